#include "windows/frmAbout.h"

#include "platform/Log.h"
#include "ui_frmAbout.h"
#include "windows/AboutTexts.h"
#include "windows/WindowLook.h"

#include <QIcon>
#include <QKeyEvent>
#include <QMouseEvent>

namespace zurodid {
namespace {

constexpr unsigned kLinkHoverColour = 0x00FF0000; // blue
constexpr unsigned kLinkPlainColour = 0x00000000; // black
constexpr unsigned kFrameColour = 0x00C0C0C0;     // light grey

QString FromView(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void SetTextColour(QLabel& label, unsigned bgr) {
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, ColourFromBgr(bgr));
    label.setPalette(palette);
}

void SetBackColour(QWidget& widget, unsigned bgr) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, ColourFromBgr(bgr));
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
}

} // namespace

QColor ColourFromBgr(unsigned bgr) {
    return QColor(static_cast<int>(bgr & 0xFFu), static_cast<int>((bgr >> 8) & 0xFFu),
                  static_cast<int>((bgr >> 16) & 0xFFu));
}

frmAbout::frmAbout(Desktop& desktop, LinkLauncher& links, QWidget* parent)
    : QDialog(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::frmAbout>()), desktop_(desktop), links_(links) {
    ui_->setupUi(this);
    PrepareFixedWindow(*this, 4230, 3525);
    setWindowIcon(QIcon(QStringLiteral(":/icons/zurodid-agent.png")));

    ui_->Label3->setText(FromView(about::kProductLine));
    ui_->Label1->setText(QStringLiteral("BY : ") + FromView(about::kCredit));
    ui_->Label2->setText(QStringLiteral("E-MAIL : ") + FromView(about::kEmailAddress));
    ui_->Label13->setText(QStringLiteral("URL : ") + FromView(about::kShownWebAddress));

    // The whole frame is grey, the caption standing in its top line, as the labels expect.
    ui_->Frame2->setStyleSheet(
        QStringLiteral("QGroupBox#Frame2 { background-color: %1; background-clip: margin;"
                       " border: 1px solid #808080; margin-top: 7px; }"
                       "QGroupBox#Frame2::title { subcontrol-origin: margin; left: 6px;"
                       " padding: 0 2px; }")
            .arg(ColourFromBgr(kFrameColour).name()));
    for (QLabel* label : {ui_->Label1, ui_->Label2, ui_->Label3, ui_->Label4, ui_->Label13})
        SetBackColour(*label, kFrameColour);
    QFont linkFont = FormFont();
    linkFont.setUnderline(true);
    for (QLabel* link : {ui_->Label2, ui_->Label13}) {
        link->setFont(linkFont);
        link->setMouseTracking(true);
        link->installEventFilter(this);
    }
    // The line is drawn on the frame: moving over it is moving over the frame.
    ui_->Line1->setAttribute(Qt::WA_TransparentForMouseEvents);
    ui_->Frame2->setMouseTracking(true);
    ui_->Frame2->installEventFilter(this);

    connect(ui_->Command1, &QPushButton::clicked, this, &frmAbout::Command1_Click);
    ui_->Command1->setFocus();
}

frmAbout::~frmAbout() = default;

void frmAbout::Command1_Click() {
    accept();
}

void frmAbout::Label13_Click() {
    OpenLink(std::string(about::kOpenedWebAddress));
}

void frmAbout::Label2_Click() {
    OpenLink("mailto:" + std::string(about::kEmailAddress));
}

void frmAbout::Label13_MouseMove() {
    SetTextColour(*ui_->Label13, kLinkHoverColour);
    SetTextColour(*ui_->Label2, kLinkPlainColour);
}

void frmAbout::Label2_MouseMove() {
    SetTextColour(*ui_->Label2, kLinkHoverColour);
    SetTextColour(*ui_->Label13, kLinkPlainColour);
}

void frmAbout::Frame2_MouseMove() {
    SetTextColour(*ui_->Label2, kLinkPlainColour);
    SetTextColour(*ui_->Label13, kLinkPlainColour);
}

void frmAbout::OpenLink(const std::string& address) {
    StartOutcome outcome = links_.Open(address);
    if (!outcome.started) {
        LogFailure("opening " + address, outcome.errorNumber, outcome.error);
        desktop_.MsgBox("Could not open " + address + ".\n" + outcome.error, vbCritical,
                        kAgentTitle);
    }
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event) {
    const bool onWeb = watched == ui_->Label13;
    const bool onMail = watched == ui_->Label2;
    switch (event->type()) {
    case QEvent::MouseMove:
        if (onWeb)
            Label13_MouseMove();
        else if (onMail)
            Label2_MouseMove();
        else if (watched == ui_->Frame2)
            Frame2_MouseMove();
        else
            break;
        return true;
    case QEvent::MouseButtonPress:
        if (onWeb || onMail)
            return true; // keeps the press on the link, so the release comes back to it
        break;
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (!(onWeb || onMail) || mouse->button() != Qt::LeftButton)
            break;
        // A click is a release over the label that was pressed.
        if (static_cast<QWidget*>(watched)->rect().contains(mouse->position().toPoint())) {
            if (onWeb)
                Label13_Click();
            else
                Label2_Click();
        }
        return true;
    }
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

void frmAbout::keyPressEvent(QKeyEvent* event) {
    // No cancel button: Escape does nothing.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmAbout::done(int result) {
    QDialog::done(result);
    emit Unloaded();
}

} // namespace zurodid
