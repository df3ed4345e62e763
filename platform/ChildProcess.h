#pragma once

#include <sys/types.h>

namespace zurodid {

// One owned descriptor, closed when it goes out of scope.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release();
    void Reset(int fd = -1);

private:
    int fd_ = -1;
};

// A pipe whose ends are closed on exec; both invalid when none could be made.
struct Pipe {
    UniqueFd read;
    UniqueFd write;
};
Pipe MakePipe();

// Waits for this process's child `pid` to end, going on after interruptions: its wait status,
// or -1 when there is nothing to wait for (SIGCHLD ignored lets the system reap it). Only the
// process that made a child waits for it: an id already waited for may name another process.
int WaitForChild(pid_t pid);

// Kills this process's child `pid`, which it has not yet waited for (so the id is still that
// child's), and waits for it.
void KillAndWaitForChild(pid_t pid);

} // namespace zurodid
