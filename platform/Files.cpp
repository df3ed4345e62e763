#include "platform/Files.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zurodid {

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
// -1 when no child can be made, else how the child ended.
int CommitInChild(const char* self, const char* temporary, const char* target) {
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        if (::linkat(AT_FDCWD, self, AT_FDCWD, temporary, AT_SYMLINK_FOLLOW) != 0)
            ::_exit(kCouldNotName);
        ::_exit(::rename(temporary, target) == 0 ? 0 : errno);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : kCouldNotName;
}

} // namespace

// "<file>.<pid>.tmp" of a process that no longer runs, or of this one (an earlier failed
// write); a live writer's file is left alone.
void RemoveUnfinishedReplacements(const std::filesystem::path& file) {
    const std::string prefix = file.filename().string() + ".";
    constexpr std::string_view suffix = ".tmp";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path(), error)) {
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

WriteOutcome ReplaceFileAtomically(const std::filesystem::path& file, std::string_view bytes) {
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
    if (error != 0) {
        ::unlink(temporary.c_str());
        return {false, Describe("Cannot write", file, error), error};
    }
    // The rename itself reaches the disk with the folder.
    int dir = ::open(folderName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}

} // namespace zurodid
