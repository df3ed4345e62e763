#include "windows/frmAbout.h"

#include "WindowTestSupport.h"
#include "windows/AboutTexts.h"
#include "windows/WindowRegistry.h"

#include <QDesktopServices>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace zurodid::test {
namespace {

const QColor kBlue(0, 0, 255);
const QColor kBlack(0, 0, 0);

class AboutBox : public ::testing::Test {
protected:
    ~AboutBox() override { DeleteClosedWindows(); }

    // Shown modeless here so that the test can act on it; the menu shows it modal.
    QDialog& Open() {
        registry.Show(WindowName::frmAbout, ShowMode::Modeless);
        return *qobject_cast<QDialog*>(registry.Window(WindowName::frmAbout));
    }
    QWidget& Control(const char* name) {
        return *registry.Window(WindowName::frmAbout)->findChild<QWidget*>(name);
    }
    QColor TextColour(const char* label) {
        return Control(label).palette().color(QPalette::WindowText);
    }
    void MoveOver(const char* name) {
        QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), QPointF(2, 2), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&Control(name), &move);
    }

    std::unique_ptr<ProcessState> state = MakeState("/nonexistent");
    FakeDesktop desktop;
    FakeClock clock{At(2026, 12, 7)};
    FakeLinkLauncher links;
    WindowRegistry registry{*state, desktop, clock, links};
};

TEST_F(AboutBox, LinksTurnBlueUnderThePointerAndBlackOverBareFrame) {
    Open();
    const QColor plain = TextColour("Label13");
    EXPECT_EQ(TextColour("Label2"), plain);
    struct Step {
        const char* over;
        QColor web, mail;
    };
    const std::vector<Step> steps{
        {"Label13", kBlue, kBlack},
        {"Label2", kBlack, kBlue},
        {"Frame2", kBlack, kBlack},
        {"Label13", kBlue, kBlack},
        {"Command1", kBlue, kBlack}, // left the frame without crossing
                                     // it: stays blue
        {"Label1", kBlue, kBlack},
        {"Label4", kBlue, kBlack},
        {"Label3", kBlue, kBlack},
        {"frmAbout", kBlue, kBlack},
        {"Label2", kBlack, kBlue},
        {"Frame2", kBlack, kBlack},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.over);
        if (std::string_view(step.over) == "frmAbout") {
            QMouseEvent move(QEvent::MouseMove, QPointF(1, 1), QPointF(1, 1), Qt::NoButton,
                             Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(registry.Window(WindowName::frmAbout), &move);
        } else {
            MoveOver(step.over);
        }
        EXPECT_EQ(TextColour("Label13"), step.web);
        EXPECT_EQ(TextColour("Label2"), step.mail);
    }
}

TEST_F(AboutBox, ReopenedItStartsWithTheDefaultColours) {
    Open();
    const QColor plain = TextColour("Label13");
    MoveOver("Label13");
    QTest::keyClick(&Control("Command1"), Qt::Key_Return);
    EXPECT_FALSE(registry.IsLoaded(WindowName::frmAbout));
    DeleteClosedWindows();
    Open();
    EXPECT_EQ(TextColour("Label13"), plain);
    EXPECT_EQ(TextColour("Label2"), plain);
}

TEST_F(AboutBox, ClicksOpenTheAddressesAndTheBoxStaysOpen) {
    Open();
    QTest::mouseClick(&Control("Label13"), Qt::LeftButton, {}, QPoint(3, 3));
    QTest::mouseClick(&Control("Label2"), Qt::LeftButton, {}, QPoint(3, 3));
    QTest::mouseClick(&Control("Label1"), Qt::LeftButton, {}, QPoint(3, 3));
    QTest::mouseClick(&Control("Label2"), Qt::RightButton, {}, QPoint(3, 3));
    EXPECT_EQ(links.opened,
              (std::vector<std::string>{std::string(about::kOpenedWebAddress),
                                        "mailto:" + std::string(about::kEmailAddress)}));
    EXPECT_TRUE(registry.IsLoaded(WindowName::frmAbout));
    EXPECT_TRUE(desktop.boxes.empty());
}

TEST_F(AboutBox, ALinkThatCannotBeOpenedIsToldNotFatal) {
    links.outcome = {false, "No browser."};
    Open();
    QTest::mouseClick(&Control("Label13"), Qt::LeftButton, {}, QPoint(3, 3));
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_NE(desktop.boxes[0].text.find("No browser."), std::string::npos);
    EXPECT_EQ(desktop.boxes[0].title, "Zurodid Agent");
    EXPECT_TRUE(registry.IsLoaded(WindowName::frmAbout));
}

TEST_F(AboutBox, EnterClosesEscapeDoesNot) {
    QDialog& box = Open();
    QTest::keyClick(&box, Qt::Key_Escape);
    EXPECT_TRUE(registry.IsLoaded(WindowName::frmAbout));
    QTest::keyClick(&box, Qt::Key_Return);
    EXPECT_FALSE(registry.IsLoaded(WindowName::frmAbout));
}

TEST_F(AboutBox, ShownModalTheCallerResumesWhenItCloses) {
    bool closed = false;
    QTimer::singleShot(0, [&] {
        QWidget* box = registry.Window(WindowName::frmAbout);
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(box->isModal());
        closed = true;
        box->close();
    });
    registry.Show(WindowName::frmAbout, ShowMode::Modal);
    EXPECT_TRUE(closed);
    EXPECT_FALSE(registry.IsLoaded(WindowName::frmAbout));
}

// Receives the addresses that the desktop's default handler would get.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    std::vector<QUrl> urls;
public slots:
    void Catch(const QUrl& url) { urls.push_back(url); }
};

TEST(DesktopLinkLauncher, UsesTheFixedBrowserOnlyWhereItExists) {
    TempFolder folder;
    FakeDesktop desktop;
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "Catch");
    QDesktopServices::setUrlHandler("mailto", &catcher, "Catch");

    auto browser = folder.Path() / "browser";
    WriteBytes(browser, "");
    DesktopLinkLauncher present(desktop, browser);
    EXPECT_TRUE(present.Open("mailto:a@b.example").started);
    ASSERT_EQ(desktop.started.size(), 1u);
    EXPECT_EQ(desktop.started[0].program, browser);
    EXPECT_EQ(desktop.started[0].arguments, std::vector<std::string>{"mailto:a@b.example"});

    // The fixed Windows path names no file here; a same-named file in the working folder
    // must not be taken for it.
    DesktopLinkLauncher fixed(desktop);
    DesktopLinkLauncher missing(desktop, folder.Path() / "no-browser");
    EXPECT_TRUE(fixed.Open("https://zurodid.example.org/").started);
    EXPECT_TRUE(missing.Open("mailto:a@b.example").started);
    EXPECT_EQ(desktop.started.size(), 1u);
    EXPECT_EQ(catcher.urls, (std::vector<QUrl>{QUrl("https://zurodid.example.org/"),
                                               QUrl("mailto:a@b.example")}));

    EXPECT_FALSE(missing.Open("http://[bad").started);
    QDesktopServices::unsetUrlHandler("https");
    QDesktopServices::unsetUrlHandler("mailto");
}

} // namespace
} // namespace zurodid::test

#include "frmAboutTest.moc"
