#include "windows/frmOption.h"

#include "platform/Log.h"
#include "platform/Numbers.h"
#include "ui_frmOption.h"
#include "windows/WindowLook.h"

#include <QCloseEvent>
#include <array>
#include <cstring>

namespace zurodid {
namespace {

// A setting shown by a check box: 1 checked, 2 greyed, anything else (a hand-edited file may
// hold any number) unchecked.
void ShowCheckValue(QCheckBox& box, std::int16_t value) {
    box.setTristate(value == 2);
    box.setCheckState(value == 1 ? Qt::Checked : value == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
}

std::int16_t CheckValue(const QCheckBox& box) {
    switch (box.checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    case Qt::Unchecked:
        break;
    }
    return 0;
}

std::string BoxText(const QLineEdit& box) {
    return box.text().toStdString();
}

} // namespace

frmOption::frmOption(ProcessState& state, Desktop& desktop, std::function<void()> refillList,
                     QWidget* parent)
    : QWidget(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::frmOption>()), state_(state), desktop_(desktop),
      refillList_(std::move(refillList)) {
    ui_->setupUi(this);
    ShowNoWindowIcon(*this);
    PrepareFixedWindow(*this, 3855, 3195);
    // A greyed box, shown for a stored 2, goes back to plain on/off once the user clicks it.
    for (QCheckBox* box : {ui_->chkStartUp, ui_->chkRemind})
        connect(box, &QCheckBox::clicked, box, [box] { box->setTristate(false); });
    connect(ui_->cmdOK, &QPushButton::clicked, this, &frmOption::cmdOK_Click);
    connect(ui_->cmdCancel, &QPushButton::clicked, this, &frmOption::cmdCancel_Click);
    ui_->chkStartUp->setFocus();
}

frmOption::~frmOption() = default;

void frmOption::Form_Load() {
    const AgentSettings& settings = state_.AgentSettings;
    ShowCheckValue(*ui_->chkStartUp, settings.StartUpRemind);
    ui_->txtAnniversaryStartUp->setText(
        QString::fromStdString(DecimalText(settings.AnniversaryStartUp)));
    ui_->txtAppointmentStartUp->setText(
        QString::fromStdString(DecimalText(settings.AppointmentStartUp)));
    ShowCheckValue(*ui_->chkRemind, settings.Remind);
    ui_->txtAppointmentRemind->setText(
        QString::fromStdString(DecimalText(settings.AppointmentRemind)));
}

void frmOption::cmdOK_Click() {
    struct NumberBox {
        QLineEdit* box;
        const char* meaning;
        std::int16_t value = 0;
    };
    std::array<NumberBox, 3> numbers{{
        {ui_->txtAnniversaryStartUp, "The days ahead for anniversaries (AnniversaryStartUp)"},
        {ui_->txtAppointmentStartUp, "The days ahead for appointments (AppointmentStartUp)"},
        {ui_->txtAppointmentRemind, "The minutes of the advance reminder (AppointmentRemind)"},
    }};
    // Every box is checked before anything is written: a box that does not convert would
    // otherwise leave unreadable text in the file and stop the agent.
    for (NumberBox& number : numbers) {
        StrictInteger16 converted = ConvertStrictInteger16(BoxText(*number.box));
        if (!converted.value) {
            desktop_.MsgBox(std::string(number.meaning) +
                                " must be a whole number from -32768 to 32767.",
                            vbCritical, kAgentTitle);
            number.box->setFocus();
            number.box->selectAll();
            return;
        }
        number.value = *converted.value;
    }

    const std::int16_t startUp = CheckValue(*ui_->chkStartUp);
    const std::int16_t remind = CheckValue(*ui_->chkRemind);
    // The number boxes are written as typed (" 4 " stays " 4 "); all five keys every time.
    const std::array<std::string, 5> texts{DecimalText(startUp), BoxText(*numbers[0].box),
                                           BoxText(*numbers[1].box), DecimalText(remind),
                                           BoxText(*numbers[2].box)};
    WriteOutcome failure;
    for (std::size_t key = 0; key < kSettingKeys.size(); ++key) {
        WriteOutcome outcome =
            state_.module1.WriteINI(kSettingsSection, kSettingKeys[key].name, texts[key]);
        if (!outcome.ok && failure.ok)
            failure = outcome;
    }

    AgentSettings& settings = state_.AgentSettings;
    settings.StartUpRemind = startUp;
    settings.AnniversaryStartUp = numbers[0].value;
    settings.AppointmentStartUp = numbers[1].value;
    settings.Remind = remind;
    settings.AppointmentRemind = numbers[2].value;
    if (refillList_)
        refillList_();
    desktop_.WakeTimer();

    if (!failure.ok) {
        LogFailure("saving the settings", failure.errorNumber, std::strerror(failure.errorNumber),
                   state_.module1.SettingsPath());
        desktop_.MsgBox("The settings could not be saved to " +
                            state_.module1.SettingsPath().string() + ".\n" + failure.error +
                            "\nThe new settings apply until the agent ends.",
                        vbCritical, kAgentTitle);
    }
    close();
}

void frmOption::cmdCancel_Click() {
    close();
}

void frmOption::closeEvent(QCloseEvent* event) {
    event->accept();
    emit Unloaded();
}

} // namespace zurodid
