#include "platform/Files.h"

#include "platform/ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zurodid {
namespace {

std::string KindOf(mode_t mode) {
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "something other than a file";
}

RegularFileOpen NotRegular(mode_t mode) {
    return {-1, true, S_ISDIR(mode) ? EISDIR : EINVAL,
            "it is " + KindOf(mode) + ", not a regular file"};
}

} // namespace

RegularFileOpen OpenRegularFileForReading(const std::filesystem::path& file) {
    // Looked at before the open: opening a device or a FIFO can block or act on it.
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        const int error = errno;
        return {-1, error != ENOENT, error == ENOENT ? 0 : error, std::strerror(error)};
    }
    if (!S_ISREG(info.st_mode))
        return NotRegular(info.st_mode);
    // O_NONBLOCK: something swapped in between the two looks must not block the open either.
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        return {-1, error != ENOENT, error == ENOENT ? 0 : error, std::strerror(error)};
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return NotRegular(info.st_mode);
    }
    return {fd, true, 0, {}};
}

BoundedRead ReadRegularFile(const std::filesystem::path& file, std::size_t maxBytes) {
    RegularFileOpen opened = OpenRegularFileForReading(file);
    BoundedRead result;
    result.exists = opened.exists;
    if (opened.fd < 0) {
        result.error = opened.error;
        result.reason = std::move(opened.reason);
        return result;
    }
    try {
        struct stat info {};
        if (::fstat(opened.fd, &info) == 0 && info.st_size > 0)
            result.bytes.reserve(std::min(static_cast<std::size_t>(info.st_size), maxBytes));
        // One byte past the bound tells a file of exactly the bound from a longer one.
        char chunk[65536];
        while (result.bytes.size() <= maxBytes) {
            const std::size_t want = std::min(sizeof chunk, maxBytes + 1 - result.bytes.size());
            const ssize_t got = ::read(opened.fd, chunk, want);
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                result.error = errno;
                result.reason = std::strerror(errno);
                result.bytes.clear();
                break;
            }
            if (got == 0)
                break;
            result.bytes.append(chunk, static_cast<std::size_t>(got));
        }
    } catch (const std::exception& error) { // no memory for the bytes
        result.bytes.clear();
        result.error = ENOMEM;
        result.reason = error.what();
    }
    ::close(opened.fd);
    if (result.bytes.size() > maxBytes) {
        result.bytes.resize(maxBytes);
        result.cut = true;
    }
    return result;
}

std::filesystem::path ResolveFinalLinks(const std::filesystem::path& file, int& error) {
    error = 0;
    std::filesystem::path current = file;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return current;
        std::string target(static_cast<std::size_t>(PATH_MAX), '\0');
        const ssize_t length = ::readlink(current.c_str(), target.data(), target.size());
        if (length < 0) {
            error = errno;
            return current;
        }
        target.resize(static_cast<std::size_t>(length));
        std::filesystem::path next(target);
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    error = ELOOP;
    return current;
}

std::filesystem::path ExecutableFolder() {
    std::error_code error;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return std::filesystem::current_path(error);
    // A folder removed under a running program reads back with this mark.
    std::string text = exe.string();
    constexpr std::string_view deleted = " (deleted)";
    if (text.ends_with(deleted))
        exe = text.substr(0, text.size() - deleted.size());
    return exe.parent_path();
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

namespace {

std::string Describe(const std::string& what, const std::filesystem::path& file, int error) {
    return what + " " + file.string() + ": " + std::strerror(error);
}

std::string TemporaryNameOf(const std::filesystem::path& file, long pid) {
    return file.string() + "." + std::to_string(pid) + ".tmp";
}

// How the committing child ends: 0, the rename's errno, or this when the name could not be
// given (the caller then writes a named file itself).
constexpr int kCouldNotName = 255;

// Names the unnamed file `self` as `temporary` and renames that over `target` in a child
// process: killed between the two steps, this process would leave the name behind; killed now,
// it leaves the child to finish. Only system calls run in the child (this process has threads).
// The child tells how it ended through a pipe, not its exit status: with SIGCHLD ignored (a
// disposition that survives exec) the system reaps it and waitpid has nothing to give.
// -1 when no child can be made, else how the child ended.
int CommitInChild(const char* self, const char* temporary, const char* target) {
    Pipe report = MakePipe();
    if (!report.read.Valid())
        return -1;
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        unsigned char outcome = kCouldNotName;
        if (::linkat(AT_FDCWD, self, AT_FDCWD, temporary, AT_SYMLINK_FOLLOW) == 0)
            outcome = static_cast<unsigned char>(::rename(temporary, target) == 0 ? 0 : errno);
        while (::write(report.write.Get(), &outcome, 1) < 0 && errno == EINTR) {
        }
        ::_exit(0);
    }
    report.write.Reset();
    unsigned char outcome = kCouldNotName; // a child that died before it could say
    ssize_t got = 0;
    while ((got = ::read(report.read.Get(), &outcome, 1)) < 0 && errno == EINTR) {
    }
    if (got != 1)
        outcome = kCouldNotName;
    WaitForChild(child);
    return outcome;
}

} // namespace

// "<file>.<pid>.tmp" of a process that no longer runs, or of this one (an earlier failed
// write); a live writer's file is left alone.
void RemoveUnfinishedReplacements(const std::filesystem::path& named) {
    int linkError = 0;
    const std::filesystem::path file = ResolveFinalLinks(named, linkError);
    const std::string prefix = file.filename().string() + ".";
    constexpr std::string_view suffix = ".tmp";
    // Stepped with an error code: a folder that changes or vanishes meanwhile ends the walk
    // instead of throwing out of a save.
    std::error_code error;
    for (std::filesystem::directory_iterator it(file.parent_path(), error), end;
         !error && it != end; it.increment(error)) {
        const std::filesystem::directory_entry& entry = *it;
        const std::string name = entry.path().filename().string();
        if (name.size() <= prefix.size() + suffix.size() || !name.starts_with(prefix) ||
            !name.ends_with(suffix))
            continue;
        const std::string digits =
            name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
        if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9)
            continue;
        const auto pid = static_cast<pid_t>(std::stol(digits));
        if (pid == ::getpid() || (pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH))
            ::unlink(entry.path().c_str());
    }
}

WriteOutcome ReplaceFileAtomically(const std::filesystem::path& named, std::string_view bytes) {
    // A link kept elsewhere stays a link: its target is what gets replaced.
    int linkError = 0;
    const std::filesystem::path file = ResolveFinalLinks(named, linkError);
    if (linkError != 0)
        return {false, Describe("Cannot follow the link", named, linkError), linkError};
    struct stat there {};
    if (::stat(file.c_str(), &there) == 0 && !S_ISREG(there.st_mode)) {
        const int error = S_ISDIR(there.st_mode) ? EISDIR : EINVAL;
        return {false,
                "Cannot write " + file.string() + ": it is " + KindOf(there.st_mode) +
                    ", not a regular file",
                error};
    }
    std::filesystem::path folder = file.parent_path();
    const std::string folderName = folder.empty() ? "." : folder.string();
    RemoveUnfinishedReplacements(file);
    const std::string temporary = TemporaryNameOf(file, ::getpid());

    struct stat old {};
    mode_t mode;
    if (::stat(file.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    // An unnamed file while it is written and flushed (the long part): a crash then leaves
    // nothing behind. It is named and renamed over the old file in one go by a child process.
    // Where the file system cannot make unnamed files or /proc is missing, a named one from the
    // start, renamed at once after its flush.
    auto fill = [&](int fd) {
        return WriteAll(fd, bytes) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0 ? 0 : errno;
    };
    int error = 0;
    bool renamed = false;
    int fd = ::open(folderName.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd >= 0) {
        error = fill(fd);
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        if (error == 0) {
            int committed = CommitInChild(self.c_str(), temporary.c_str(), file.c_str());
            if (committed == -1) { // no child to be had: the same two steps here
                committed = kCouldNotName;
                if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary.c_str(),
                             AT_SYMLINK_FOLLOW) == 0)
                    committed = ::rename(temporary.c_str(), file.c_str()) == 0 ? 0 : errno;
            }
            if (committed == kCouldNotName) {
                ::close(fd);
                fd = -1;
                ::unlink(temporary.c_str()); // named by a child that died before its rename
            } else {
                error = committed;
                renamed = committed == 0;
            }
        }
    }
    if (fd < 0) {
        fd = ::open(temporary.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode);
        if (fd < 0) {
            error = errno;
            return {false, Describe("Cannot create a file in", folder, error), error};
        }
        error = fill(fd);
    }
    if (error == 0 && !renamed && ::rename(temporary.c_str(), file.c_str()) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    // Also after a success: a rename of one link of a file over another of the same file
    // succeeds and leaves both.
    ::unlink(temporary.c_str());
    if (error != 0)
        return {false, Describe("Cannot write", file, error), error};
    // The rename itself reaches the disk with the folder.
    int dir = ::open(folderName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}

} // namespace zurodid
