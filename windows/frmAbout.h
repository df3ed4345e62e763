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

    void Command1_Click();
    void Label13_Click();
    void Label2_Click();
    void Label13_MouseMove();
    void Label2_MouseMove();
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
