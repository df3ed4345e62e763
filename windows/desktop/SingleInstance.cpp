#include "windows/desktop/SingleInstance.h"

#include "platform/Log.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace zurodid {
namespace {

constexpr std::string_view kShowRequest = "show\n";
constexpr std::string_view kShown = "shown\n";
// The first agent may still be starting (its lock taken, its diary being opened): a later
// start keeps asking for a while.
constexpr int kAnswerWithinMs = 10000;
constexpr std::size_t kLongestLine = 64;

// The socket's address; false when the name does not fit.
bool AddressOf(const std::string& name, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (name.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, name.c_str(), name.size() + 1);
    return true;
}

// One later start's request, read as it comes: the first agent never waits for it.
class Request final : public QObject {
public:
    Request(int descriptor, const std::function<void()>& show, QObject* parent)
        : QObject(parent), descriptor_(descriptor), show_(show),
          notifier_(descriptor, QSocketNotifier::Read, this) {
        connect(&notifier_, &QSocketNotifier::activated, this, &Request::Read);
    }
    ~Request() override { ::close(descriptor_); }

private:
    void Read() {
        char buffer[kLongestLine];
        const ssize_t got = ::read(descriptor_, buffer, sizeof buffer);
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (got > 0)
            line_.append(buffer, static_cast<std::size_t>(got));
        if (got > 0 && line_.find('\n') == std::string::npos && line_.size() < kLongestLine)
            return;
        notifier_.setEnabled(false);
        if (line_ == kShowRequest) {
            // Answered first: the window's load may open a box that waits for the person.
            [[maybe_unused]] const ssize_t sent =
                ::send(descriptor_, kShown.data(), kShown.size(), MSG_NOSIGNAL);
            QTimer::singleShot(0, parent(), show_);
        }
        deleteLater();
    }

    int descriptor_;
    std::function<void()> show_;
    QSocketNotifier notifier_;
    std::string line_;
};

// The listening socket: each connection becomes a Request.
class Server final : public QObject {
public:
    Server(int descriptor, std::function<void()> show)
        : descriptor_(descriptor), show_(std::move(show)),
          notifier_(descriptor, QSocketNotifier::Read, this) {
        connect(&notifier_, &QSocketNotifier::activated, this, [this] {
            int connection;
            while ((connection = ::accept4(descriptor_, nullptr, nullptr,
                                           SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0)
                new Request(connection, show_, this);
        });
    }
    ~Server() override { ::close(descriptor_); }

private:
    int descriptor_;
    std::function<void()> show_;
    QSocketNotifier notifier_;
};

// Asks once: true when the first agent answered that it shows its window.
bool AskOnce(const sockaddr_un& address, const QDeadlineTimer& deadline, std::string& error) {
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0) {
        error = std::strerror(errno);
        return false;
    }
    bool shown = false;
    if (::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error = std::strerror(errno);
    } else if (::send(descriptor, kShowRequest.data(), kShowRequest.size(), MSG_NOSIGNAL) < 0) {
        error = std::strerror(errno);
    } else {
        std::string answer;
        pollfd readable{descriptor, POLLIN, 0};
        while (answer.find('\n') == std::string::npos && answer.size() < kLongestLine &&
               ::poll(&readable, 1, static_cast<int>(deadline.remainingTime())) == 1) {
            char buffer[kLongestLine];
            const ssize_t got = ::read(descriptor, buffer, sizeof buffer);
            if (got <= 0)
                break;
            answer.append(buffer, static_cast<std::size_t>(got));
        }
        shown = answer == kShown;
        if (!shown)
            error = "no answer";
    }
    ::close(descriptor);
    return shown;
}

} // namespace

SingleInstance::SingleInstance(const QString& agentFolder) {
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        runtime = QDir::tempPath();
    QByteArray key = QCryptographicHash::hash(QDir(agentFolder).canonicalPath().toUtf8(),
                                              QCryptographicHash::Sha1)
                         .toHex()
                         .left(16);
    base_ = runtime + QStringLiteral("/zurodid-agent-") + QString::fromLatin1(key);
    lock_ = std::make_unique<QLockFile>(base_ + QStringLiteral(".lock"));
    // A lock left by a crashed agent is taken over (QLockFile checks the process).
    first_ = lock_->tryLock(0);
}

SingleInstance::~SingleInstance() = default;

void SingleInstance::Listen(std::function<void()> show) {
    const std::string name = (base_ + QStringLiteral(".socket")).toStdString();
    auto fail = [&name](const std::string& why) {
        LogFailure("listening for a second start, which will not show the list window", 0, why,
                   name);
    };
    sockaddr_un address;
    if (!AddressOf(name, address))
        return fail("the socket's name is too long");
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (descriptor < 0)
        return fail(std::strerror(errno));
    // We hold the lock: a socket left there is a crashed agent's. Only its owner may ask.
    ::unlink(name.c_str());
    const mode_t mask = ::umask(0077);
    const bool bound =
        ::bind(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::umask(mask);
    if (!bound || ::listen(descriptor, 8) != 0) {
        const std::string why = std::strerror(errno);
        ::close(descriptor);
        return fail(why);
    }
    server_ = std::make_unique<Server>(descriptor, std::move(show));
}

bool SingleInstance::AskTheFirstToShow() const {
    const std::string name = (base_ + QStringLiteral(".socket")).toStdString();
    sockaddr_un address;
    std::string error = "the socket's name is too long";
    QDeadlineTimer deadline(kAnswerWithinMs);
    if (AddressOf(name, address)) {
        while (!deadline.hasExpired()) {
            if (AskOnce(address, deadline, error))
                return true;
            QThread::msleep(50);
        }
    }
    LogFailure("asking the agent already running here to show its list window", 0, error, name);
    return false;
}

} // namespace zurodid
