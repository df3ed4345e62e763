#pragma once

#include "agent/Desktop.h"
#include "store/ProcessState.h"

#include <QWidget>
#include <functional>
#include <memory>

class QCheckBox;
class QLineEdit;

namespace Ui {
class frmOption;
}

namespace zurodid {

// Edits the five settings. OK writes all five keys, puts the new values in force and refills
// the list window; Cancel and the close box change nothing. Modeless: reminders go on.
class frmOption final : public QWidget {
    Q_OBJECT
public:
    // refillList runs the list window's fill (creating the window hidden when it is not loaded).
    frmOption(ProcessState& state, Desktop& desktop, std::function<void()> refillList,
              QWidget* parent = nullptr);
    ~frmOption() override;

    // Form_Load: the dialog's load event.
    void Form_Load();
    // cmdOK: the OK button.
    void cmdOK_Click();
    // cmdCancel: the Cancel button.
    void cmdCancel_Click();

signals:
    void Unloaded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<Ui::frmOption> ui_;
    ProcessState& state_;
    Desktop& desktop_;
    std::function<void()> refillList_;
};

} // namespace zurodid
