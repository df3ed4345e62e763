#include "windows/desktop/EventSound.h"

#include "support/TempFolder.h"

#include <QByteArray>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace zurodid::testing {
namespace {

// A sound server that takes the connection and never says a word.
class SilentSoundServer {
public:
    explicit SilentSoundServer(const std::filesystem::path& socketPath) {
        listening_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        socketPath.string().copy(address.sun_path, sizeof address.sun_path - 1);
        bind(listening_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listening_, 4);
    }
    ~SilentSoundServer() { HangUp(); }
    // True once a client has connected, within the limit.
    bool WaitForClient(int limitMs) {
        pollfd ready{listening_, POLLIN, 0};
        if (poll(&ready, 1, limitMs) != 1)
            return false;
        client_ = accept4(listening_, nullptr, nullptr, SOCK_CLOEXEC);
        return client_ >= 0;
    }
    void HangUp() {
        for (int* descriptor : {&client_, &listening_})
            if (*descriptor >= 0)
                close(std::exchange(*descriptor, -1));
    }

private:
    int listening_ = -1;
    int client_ = -1;
};

TEST(EventSound, LeavingDoesNotWaitOnASoundServerThatDoesNotAnswer) {
    TempFolder folder;
    SilentSoundServer server(folder / "native");
    qputenv("PULSE_SERVER", ("unix:" + (folder / "native").string()).c_str());
    auto sound = std::make_unique<EventSound>();
    sound->Play("dialog-error");
    if (!server.WaitForClient(10'000))
        GTEST_SKIP() << "libcanberra did not go to the sound server named in PULSE_SERVER";

    std::atomic<bool> gone{false};
    std::thread leaving([&] {
        sound.reset();
        gone = true;
    });
    // Far more than the second it may wait: the server stays silent for 20 s.
    for (int waited = 0; !gone && waited < 20'000; waited += 50)
        std::this_thread::sleep_for(std::chrono::milliseconds{50});
    const bool goneWhileSilent = gone;
    server.HangUp(); // frees a thread that still waits, so that the test ends either way
    leaving.join();
    qunsetenv("PULSE_SERVER");
    EXPECT_TRUE(goneWhileSilent);
}

} // namespace
} // namespace zurodid::testing
