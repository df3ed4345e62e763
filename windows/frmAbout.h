#pragma once

#include "agent/Desktop.h"
#include "windows/LinkLauncher.h"

#include <QDialog>
#include <memory>
#include <string>

class QLabel;

namespace Ui {
class frmAbout;
}

namespace zurodid {

// The About box: product, origin, credit and two links that turn blue under the pointer and
// open the mail program or the browser. Enter closes it; Escape does not.
class frmAbout final : public QDialog {
    Q_OBJECT
public:
    frmAbout(Desktop& desktop, LinkLauncher& links, QWidget* parent = nullptr);
    ~frmAbout() override;

    // Command1: the OK button.
    void Command1_Click();
    // Label13: the web link.
    void Label13_Click();
    // Label2: the e-mail link.
    void Label2_Click();
    void Label13_MouseMove();
    void Label2_MouseMove();
    // Frame2: the frame around the texts; the pointer over it and off the links.
    void Frame2_MouseMove();

signals:
    void Unloaded();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void done(int result) override;

private:
    void OpenLink(const std::string& address);

    std::unique_ptr<Ui::frmAbout> ui_;
    Desktop& desktop_;
    LinkLauncher& links_;
};

// A colour given as 0x00BBGGRR, red in the low byte.
QColor ColourFromBgr(unsigned bgr);

} // namespace zurodid
