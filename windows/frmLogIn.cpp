#include "windows/frmLogIn.h"

#include "ui_frmLogIn.h"
#include "windows/WindowLook.h"

#include <QIcon>
#include <QKeyEvent>

namespace zurodid {

frmLogIn::frmLogIn(ProcessState& state, Desktop& desktop, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::frmLogIn>()), state_(state), desktop_(desktop) {
    ui_->setupUi(this);
    PrepareFixedWindow(*this, 4260, 1065);
    setWindowIcon(QIcon(QStringLiteral(":/icons/zurodid-agent.png")));
    // Every typed character shows as "*", whatever the style's own mask character.
    ui_->txtPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    connect(ui_->cmdOk, &QPushButton::clicked, this, &frmLogIn::cmdOk_Click);
    connect(ui_->cmdCancel, &QPushButton::clicked, this, &frmLogIn::cmdCancel_Click);
    ui_->txtPassword->setFocus();
}

frmLogIn::~frmLogIn() = default;

void frmLogIn::cmdOk_Click() {
    state_.DatabasePassword = ui_->txtPassword->text().toStdString();
    accept();
}

void frmLogIn::cmdCancel_Click() {
    desktop_.EndProcess();
}

void frmLogIn::keyPressEvent(QKeyEvent* event) {
    // Escape presses Cancel, which ends the agent; the close box only closes.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        ui_->cmdCancel->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmLogIn::done(int result) {
    QDialog::done(result);
    emit Unloaded();
}

} // namespace zurodid
