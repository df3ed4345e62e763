// The yardstick of the start-up benchmark: the smallest Qt 6 program that does what the agent
// shows at start, a tray icon and a fixed 481 x 313 window titled like the list window.
// With --text the window also shows one line of Thai and Latin text, to tell what drawing
// text (fonts, shaping, Thai line breaking) costs apart from the rest of the agent.
#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QSystemTrayIcon>
#include <QWidget>
#include <cstring>

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
    if (argc > 1 && std::strcmp(argv[1], "--text") == 0) {
        auto* line =
            new QLabel(QStringLiteral("08/12/2026 09:00 ประชุมทีม ห้อง 12 / meeting 12"), &window);
        line->move(8, 8);
    }
    window.show();
    return QApplication::exec();
}
