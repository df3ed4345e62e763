#pragma once

#include <QObject>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace zurodid {

// The desktop sound theme's event sounds ("dialog-error", ...), played through the person's
// sound server with libcanberra. Play never waits: connecting to the server and loading the
// sound happen on a thread of their own, made at the first sound, so a slow or hung server
// cannot hold a reminder box.
// When no sound can be played (no server, no theme, no such sound) the log says why, once.
// Leaving waits about a second for the thread at most: one stuck on a server that does not
// answer is left to end with the process.
class EventSound final : public QObject {
    Q_OBJECT
public:
    explicit EventSound(QObject* parent = nullptr);
    ~EventSound() override;
    EventSound(const EventSound&) = delete;
    EventSound& operator=(const EventSound&) = delete;

    void Play(std::string eventId);

private:
    // What the thread shares with the object; the thread keeps it alive when it is left behind.
    struct Shared {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<std::string> queue;
        bool stopping = false;
        bool finished = false;
    };

    void Serve(const std::shared_ptr<Shared>& shared);
    // From the thread: the user-interface thread logs why no sound came, while this lives.
    void Report(Shared& shared, int error, const QString& why);
    // Runs on the user-interface thread: the log is not written from two threads.
    void SayWhyNoSound(int error, const QString& why);

    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
    bool said_ = false;
    std::thread worker_;
};

} // namespace zurodid
