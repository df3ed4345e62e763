#include <QApplication>
#include <gtest/gtest.h>

namespace {

QtMessageHandler defaultHandler = nullptr;

// The offscreen platform cannot raise windows and says so at every show of a shown window.
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.contains(QLatin1String("does not support raise()")))
        return;
    defaultHandler(type, context, message);
}

} // namespace

int main(int argc, char** argv) {
    defaultHandler = qInstallMessageHandler(QuietHandler);
    // CTest sets the platform; a direct run gets the same offscreen one.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
