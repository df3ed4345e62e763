#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <chrono>

class QWidget;

namespace zurodid {

// Keys meant for another window must not press a box's OK. A box that has just come, or that
// keys keep reaching, drops every key that reaches it; it acts on keys again once it has been
// on screen for the settling time with no key reaching it for that long. The mouse is never
// held back: a click on OK always closes the box.
class KeyGuard final : public QObject {
public:
    static constexpr std::chrono::milliseconds kSettle{1000};

    KeyGuard(QWidget& box, std::chrono::milliseconds settle = kSettle);
    ~KeyGuard() override;
    bool Settled() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& box_;
    std::chrono::milliseconds settle_;
    QElapsedTimer quiet_; // since the box came, or since the last key that reached it
};

// Who draws the box's title: the desktop's frame, or the box itself where that frame would
// offer minimise or maximise whatever the box asks (Qt's own title bar and KWin's frame on
// Wayland; openbox and KWin on X11).
enum class BoxTitle { Frame, Own };
BoxTitle TitleForThisDesktop();

// What makes a box reach the person who is busy in another window: it comes without taking
// the keyboard (it can take it once it has been on screen for `settle`), stays above ordinary
// windows and has no minimise or maximise button.
void PrepareToBeSeen(QWidget& box, std::chrono::milliseconds settle = KeyGuard::kSettle,
                     BoxTitle title = BoxTitle::Frame);

// Until it is closed, the box asks for the person's attention: on X11 it comes with the
// urgency hint and the demands-attention state, and asks again whenever the person goes back to
// another window; on Wayland it makes an activation request. Call before it is shown.
void AskForAttention(QWidget& box);

} // namespace zurodid
