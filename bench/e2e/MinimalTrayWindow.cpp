// The yardstick of the start-up benchmark: the smallest Qt 6 program that does what the agent
// shows at start, a tray icon and a fixed 481 x 313 window titled like the list window.
#include <QApplication>
#include <QIcon>
#include <QSystemTrayIcon>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QIcon icon(QStringLiteral(":/icons/zurodid-agent.png"));
    QSystemTrayIcon tray(icon);
    tray.setToolTip(QStringLiteral("Zurodid Agent"));
    tray.show();
    QWidget window;
    window.setWindowTitle(QStringLiteral("Zurodid Agent"));
    window.setFixedSize(481, 313);
    window.show();
    return QApplication::exec();
}
