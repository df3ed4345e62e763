#include "WindowTestSupport.h"
#include "windows/WindowRegistry.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace zurodid::test {
namespace {

class LogInDialog : public ::testing::Test {
protected:
    // Cancel ends the process from inside a Qt handler, where the fake must return.
    LogInDialog() { desktop.endProcessThrows = false; }
    ~LogInDialog() override { DeleteClosedWindows(); }

    // Shows the dialog modally, as the start-up does, and acts on it once it is up.
    void ShowAndThen(std::function<void(QWidget& dialog, QLineEdit& password)> act) {
        bool acted = false;
        QTimer::singleShot(0, [&] {
            QWidget* dialog = registry.Window(WindowName::frmLogIn);
            ASSERT_NE(dialog, nullptr);
            auto* password = dialog->findChild<QLineEdit*>("txtPassword");
            ASSERT_NE(password, nullptr);
            EXPECT_TRUE(password->text().isEmpty()); // every showing starts empty
            EXPECT_EQ(password->echoMode(), QLineEdit::Password);
            acted = true;
            act(*dialog, *password);
            // A fake EndProcess returns; end the modal wait the way the test could see it.
            if (registry.IsLoaded(WindowName::frmLogIn) && desktop.endProcessCalls > 0)
                dialog->close();
        });
        // A dialog left open would hang the suite: close it, and fail.
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [&] {
            ADD_FAILURE() << "the dialog did not close";
            if (QWidget* dialog = registry.Window(WindowName::frmLogIn))
                dialog->close();
        });
        guard.start(5000);
        registry.Show(WindowName::frmLogIn, ShowMode::Modal);
        EXPECT_TRUE(acted);
        EXPECT_FALSE(registry.IsLoaded(WindowName::frmLogIn));
        DeleteClosedWindows();
    }

    std::unique_ptr<ProcessState> state = MakeState("/nonexistent");
    FakeDesktop desktop;
    FakeClock clock{At(2026, 12, 7)};
    FakeLinkLauncher links;
    WindowRegistry registry{*state, desktop, clock, links};
};

TEST_F(LogInDialog, OkStoresThePasswordExactlyAsTyped) {
    for (const QString& typed : {QString(" pass word "), QString::fromUtf8("รหัส1"), QString()}) {
        SCOPED_TRACE(typed.toStdString());
        state->DatabasePassword = "before";
        ShowAndThen([&](QWidget&, QLineEdit& password) {
            password.insert(typed);
            QTest::keyClick(&password, Qt::Key_Return); // Enter is OK
        });
        EXPECT_EQ(state->DatabasePassword, typed.toStdString());
        EXPECT_EQ(desktop.endProcessCalls, 0);
    }
}

TEST_F(LogInDialog, TheCloseBoxLeavesThePasswordAsItWas) {
    state->DatabasePassword = "old";
    ShowAndThen([](QWidget& dialog, QLineEdit& password) {
        password.insert("typed but not confirmed");
        dialog.close();
    });
    EXPECT_EQ(state->DatabasePassword, "old");
    EXPECT_EQ(desktop.endProcessCalls, 0);
}

TEST_F(LogInDialog, CancelAndEscapeEndTheAgent) {
    ShowAndThen(
        [](QWidget& dialog, QLineEdit&) { dialog.findChild<QPushButton*>("cmdCancel")->click(); });
    EXPECT_EQ(desktop.endProcessCalls, 1);
    ShowAndThen([](QWidget&, QLineEdit& password) {
        password.insert("x");
        QTest::keyClick(&password, Qt::Key_Escape);
    });
    EXPECT_EQ(desktop.endProcessCalls, 2);
    EXPECT_EQ(state->DatabasePassword, "");
}

} // namespace
} // namespace zurodid::test
