#pragma once

#include <QObject>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace zurodid {

// The desktop sound theme's event sounds ("dialog-error", ...), played through the person's
// sound server with libcanberra. Play never waits: connecting to the server and loading the
// sound happen on a thread of their own, made at the first sound, so a slow or hung server
// cannot hold a reminder box.
// When no sound can be played (no server, no theme, no such sound) the log says why, once.
class EventSound final : public QObject {
    Q_OBJECT
public:
    explicit EventSound(QObject* parent = nullptr);
    ~EventSound() override;
    EventSound(const EventSound&) = delete;
    EventSound& operator=(const EventSound&) = delete;

    void Play(std::string eventId);

private:
    void Serve();
    // Runs on the user-interface thread: the log is not written from two threads.
    void SayWhyNoSound(int error, const QString& why);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::string> queue_;
    bool stopping_ = false;
    bool said_ = false;
    std::thread worker_;
};

} // namespace zurodid
