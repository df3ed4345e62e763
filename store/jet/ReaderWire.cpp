#include "store/jet/ReaderWire.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zurodid::jet::wire {

std::optional<Request> RunRequest(std::uint64_t tag, const std::string& first,
                                  const std::string& second, const IsolationLimits& limits) {
    Request request;
    if (first.size() >= sizeof request.first || second.size() >= sizeof request.second) {
        return std::nullopt;
    }
    request.kind = Kind::Run;
    request.tag = tag;
    std::memcpy(request.first, first.c_str(), first.size() + 1);
    std::memcpy(request.second, second.c_str(), second.size() + 1);
    request.wallClockMs = limits.wallClock.count();
    request.cpuSeconds = limits.cpuSeconds;
    request.extraMemoryBytes = limits.extraMemoryBytes;
    return request;
}

IsolationLimits LimitsOf(const Request& request) {
    IsolationLimits limits;
    limits.wallClock = std::chrono::milliseconds(request.wallClockMs);
    limits.cpuSeconds = request.cpuSeconds;
    limits.extraMemoryBytes = request.extraMemoryBytes;
    return limits;
}

namespace {

struct Message {
    explicit Message(void* data, std::size_t size) : part{data, size} {
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
    }
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;

    iovec part;
    alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
    msghdr message{};
};

} // namespace

bool Send(int socket, const Request& request, int output, int input) {
    Request copy = request;
    Message sending(&copy, sizeof copy);
    msghdr& message = sending.message;
    const int fds[2] = {output, input};
    const int count = output < 0 ? 0 : input < 0 ? 1 : 2;
    if (count == 0) {
        message.msg_control = nullptr;
        message.msg_controllen = 0;
    } else {
        message.msg_controllen = CMSG_SPACE(count * sizeof(int));
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(count * sizeof(int));
        std::memcpy(CMSG_DATA(header), fds, count * sizeof(int));
    }
    ssize_t sent;
    do {
        sent = ::sendmsg(socket, &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(sizeof copy);
}

std::optional<Received> ReceiveRequest(int socket) {
    Received received;
    Message receiving(&received.request, sizeof received.request);
    msghdr& message = receiving.message;
    ssize_t got;
    do {
        got = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    } while (got < 0 && errno == EINTR);
    int fds[2] = {-1, -1};
    if (const cmsghdr* header = CMSG_FIRSTHDR(&message);
        header != nullptr && header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS) {
        const auto count = std::min<std::size_t>(2, (header->cmsg_len - CMSG_LEN(0)) / sizeof(int));
        std::memcpy(fds, CMSG_DATA(header), count * sizeof(int));
    }
    received.output = fds[0];
    received.input = fds[1];
    if (got != static_cast<ssize_t>(sizeof received.request) ||
        (received.request.kind == Kind::Run && received.output < 0)) {
        for (const int fd : fds) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
        return std::nullopt;
    }
    received.request.first[sizeof received.request.first - 1] = '\0';
    received.request.second[sizeof received.request.second - 1] = '\0';
    return received;
}

bool Send(int socket, const Answer& answer) {
    return ::send(socket, &answer, sizeof answer, MSG_NOSIGNAL) ==
           static_cast<ssize_t>(sizeof answer);
}

std::optional<Answer> ReceiveAnswer(int socket, std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd readable{socket, POLLIN, 0};
        const int ready =
            ::poll(&readable, 1, static_cast<int>(std::max<long long>(0, left.count())));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return std::nullopt;
        }
        Answer answer;
        const ssize_t got = ::recv(socket, &answer, sizeof answer, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got != static_cast<ssize_t>(sizeof answer)) {
            return std::nullopt;
        }
        return answer;
    }
}

} // namespace zurodid::jet::wire
