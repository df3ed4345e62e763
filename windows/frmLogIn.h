#pragma once

#include "agent/Desktop.h"
#include "store/ProcessState.h"

#include <QDialog>
#include <memory>

namespace Ui {
class frmLogIn;
}

namespace zurodid {

// Asks for the diary's password after the open was refused. OK stores the text as typed,
// Cancel ends the agent, the close box leaves the password as it was.
class frmLogIn final : public QDialog {
    Q_OBJECT
public:
    frmLogIn(ProcessState& state, Desktop& desktop, QWidget* parent = nullptr);
    ~frmLogIn() override;

    // cmdOk: the OK button.
    void cmdOk_Click();
    // cmdCancel: the Cancel button.
    void cmdCancel_Click();

signals:
    void Unloaded();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void done(int result) override;

private:
    std::unique_ptr<Ui::frmLogIn> ui_;
    ProcessState& state_;
    Desktop& desktop_;
};

} // namespace zurodid
