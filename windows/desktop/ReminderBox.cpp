#include "windows/desktop/ReminderBox.h"

#include "windows/desktop/X11.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

namespace zurodid {
namespace {

constexpr int kMappedWithinMs = 500;

bool IsKeyEvent(QEvent::Type type) {
    return type == QEvent::KeyPress || type == QEvent::KeyRelease || type == QEvent::Shortcut ||
           type == QEvent::ShortcutOverride;
}

void AskAgain(QWidget& box) {
    if (!box.isVisible())
        return;
    // _NET_WM_STATE_DEMANDS_ATTENTION on X11 (the window manager takes it back when the box
    // gets the focus), an activation request on Wayland (a compositor that does not give the
    // focus marks the window urgent).
    QApplication::alert(&box, 0);
    x11::SetUrgencyHint(box);
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")) && box.windowHandle())
        box.windowHandle()->requestActivate();
}

// The box asks again each time the person goes back to another window before closing it, and
// on Wayland when it comes. The urgency hint stays until the box is closed: Qt may count a
// modal box active that never got the keyboard, so activation says nothing about being seen.
class AskWhenLeft final : public QObject {
public:
    explicit AskWhenLeft(QWidget& box) : QObject(&box), box_(box) { box.installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != &box_)
            return false;
        const QString platform = QGuiApplication::platformName();
        if (event->type() == QEvent::WindowDeactivate ||
            (event->type() == QEvent::Show && platform.startsWith(QLatin1String("wayland"))))
            // Once the window system has settled who has the focus.
            QTimer::singleShot(0, &box_, [box = &box_] { AskAgain(*box); });
        if (event->type() == QEvent::Show && platform == QLatin1String("xcb"))
            // Once the window manager has taken the window in.
            QTimer::singleShot(kMappedWithinMs, &box_,
                               [box = &box_] { x11::DemandAttentionOfMappedWindow(*box); });
        return false;
    }

private:
    QWidget& box_;
};

// Starts a timer when the box is shown.
class StartOnShow final : public QObject {
public:
    StartOnShow(QWidget& box, QTimer& timer) : QObject(&box), box_(box), timer_(timer) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &box_ && event->type() == QEvent::Show)
            timer_.start();
        return false;
    }

private:
    QWidget& box_;
    QTimer& timer_;
};

// The title of a box without a frame, in a strip along its top: its icon, its title and a close
// button that closes it as a frame's close does (Escape and OK are the box's own). A press and
// drag on the strip moves the box, through the window system where it can.
class OwnTitle final : public QWidget {
public:
    explicit OwnTitle(QWidget& box) : QWidget(&box), box_(box) {
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(6, 2, 2, 2);
        auto* icon = new QLabel(this);
        icon->setPixmap(box.windowIcon().pixmap(16));
        title_ = new QLabel(box.windowTitle(), this);
        // The box's width comes from its text; a long title is cut at its edge.
        title_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        QFont bold = title_->font();
        bold.setBold(true);
        title_->setFont(bold);
        auto* close = new QToolButton(this);
        close->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton, nullptr, this));
        close->setAutoRaise(true);
        close->setAccessibleName(QStringLiteral("Close"));
        // Never the focus: typed keys reach OK, as on a framed box, and the key guard holds
        // them back there.
        close->setFocusPolicy(Qt::NoFocus);
        connect(close, &QToolButton::clicked, &box, &QWidget::close);
        row->addWidget(icon);
        row->addWidget(title_, 1);
        row->addWidget(close);
        box.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != &box_)
            return false;
        switch (event->type()) {
        case QEvent::Show:
            // Before the box works out its size from its layout, which keeps clear of the
            // strip and the border.
            ensurePolished();
            box_.setContentsMargins(1, sizeHint().height() + 1, 1, 1);
            placeTold_ = false;
            QTimer::singleShot(kMappedWithinMs, this, &OwnTitle::TellQtWhereTheBoxIs);
            break;
        case QEvent::Resize:
        case QEvent::WindowTitleChange:
            setGeometry(1, 1, box_.width() - 2, sizeHint().height());
            title_->setText(box_.windowTitle());
            break;
        case QEvent::Paint: {
            // Without a frame the box's edge is drawn here; its children keep clear of it.
            QPainter painter(&box_);
            painter.setPen(box_.palette().color(QPalette::Dark));
            painter.drawRect(box_.rect().adjusted(0, 0, -1, -1));
            painter.drawLine(1, height() + 1, box_.width() - 2, height() + 1);
            // Drawn once the window manager has shown it, so in its place by then.
            if (!std::exchange(placeTold_, true))
                QTimer::singleShot(0, this, &OwnTitle::TellQtWhereTheBoxIs);
            break;
        }
        default:
            break;
        }
        return false;
    }

    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton)
            return;
        QWindow* window = box_.windowHandle();
        if (window && window->startSystemMove())
            return;
        dragFrom_ = event->globalPosition().toPoint() - box_.pos();
    }

    void mouseMoveEvent(QMouseEvent* event) override {
        if (dragFrom_)
            box_.move(event->globalPosition().toPoint() - *dragFrom_);
    }

    void mouseReleaseEvent(QMouseEvent*) override { dragFrom_.reset(); }

private:
    // A window manager that frames the box in nothing may take it in without a word of where
    // it stands: Qt, asking while the frame was still at its first place, counted the box
    // there, and told the accessibility tree so (seen on openbox).
    void TellQtWhereTheBoxIs() {
        const std::optional<QPoint> place = x11::ScreenPosition(box_);
        if (place && box_.windowHandle() && *place != box_.windowHandle()->position())
            box_.windowHandle()->setPosition(*place);
    }

    QWidget& box_;
    bool placeTold_ = false;
    QLabel* title_;
    std::optional<QPoint> dragFrom_; // a move the window system does not do itself
};

} // namespace

BoxTitle TitleForThisDesktop() {
    const QString platform = QGuiApplication::platformName();
    // Wayland has no way to ask a frame for no minimise: GNOME has Qt draw its own title bar,
    // which always offers both, and KWin's frame offers minimise.
    if (platform.startsWith(QLatin1String("wayland")))
        return BoxTitle::Own;
    if (platform == QLatin1String("xcb") && x11::FrameIgnoresMotifFunctions())
        return BoxTitle::Own;
    return BoxTitle::Frame;
}

KeyGuard::KeyGuard(QWidget& box, std::chrono::milliseconds settle) : box_(box), settle_(settle) {
    // On the application: a key reaches the box's focused button, not the box.
    qApp->installEventFilter(this);
}

KeyGuard::~KeyGuard() {
    qApp->removeEventFilter(this);
}

bool KeyGuard::Settled() const {
    return quiet_.isValid() && quiet_.elapsed() >= settle_.count();
}

bool KeyGuard::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &box_ && event->type() == QEvent::Show)
        quiet_.start();
    if (!IsKeyEvent(event->type()))
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != &box_ || Settled())
        return false;
    if (event->type() == QEvent::KeyPress)
        quiet_.start();
    if (event->type() == QEvent::ShortcutOverride) {
        // Claimed, so that no shortcut (the button's mnemonic) acts on it; the key press that
        // follows is dropped here.
        event->accept();
        return true;
    }
    return true;
}

void PrepareToBeSeen(QWidget& box, std::chrono::milliseconds settle, BoxTitle title) {
    // On X11 Qt asks the window manager to activate every modal window it maps, and user time
    // 0 alone does not stop that; refusing the focus (the ICCCM input hint) does, so the keys
    // go on reaching the window the person is typing in. A Wayland compositor decides the focus
    // itself, and there the flag would only hold back the box's activation request.
    const bool x11 = QGuiApplication::platformName() == QLatin1String("xcb");
    // Qt drops the frameless hint when a frame's button is asked for.
    const Qt::WindowFlags frame = title == BoxTitle::Own
                                      ? Qt::FramelessWindowHint
                                      : Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                            Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    box.setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | frame |
                       Qt::WindowStaysOnTopHint |
                       (x11 ? Qt::WindowDoesNotAcceptFocus : Qt::WindowFlags()));
    if (title == BoxTitle::Own)
        new OwnTitle(box);
    box.setAttribute(Qt::WA_ShowWithoutActivating);
    // The platform reads it from the native window, which takes the attribute only when it is
    // made by a show; a box's window may have been made before.
    box.winId();
    box.windowHandle()->setProperty("_q_showWithoutActivating", true);
    if (!x11)
        return;
    // Once the box has settled, it takes the focus when the person clicks it (then Enter or
    // Escape close it). Changed on the native window: changing the widget's flags would hide
    // the box.
    auto* accept = new QTimer(&box);
    accept->setSingleShot(true);
    accept->setInterval(settle);
    QObject::connect(accept, &QTimer::timeout, &box, [&box] {
        if (QWindow* window = box.windowHandle())
            window->setFlag(Qt::WindowDoesNotAcceptFocus, false);
    });
    box.installEventFilter(new StartOnShow(box, *accept));
}

void AskForAttention(QWidget& box) {
    x11::MarkUrgentBeforeMapping(box);
    new AskWhenLeft(box);
}

} // namespace zurodid
