#include "support/FileStates.h"

#include "support/TempFolder.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zurodid::testing {
namespace {

void Check(bool done, const std::string& what) {
    if (!done)
        throw std::runtime_error("cannot make " + what);
}

} // namespace

std::filesystem::path MakeFileState(const std::filesystem::path& file, FileState state,
                                    std::string_view whole,
                                    const std::filesystem::path& elsewhere) {
    switch (state) {
    case FileState::Folder:
        std::filesystem::create_directory(file);
        return file;
    case FileState::Fifo:
        Check(::mkfifo(file.c_str(), 0644) == 0, "a FIFO");
        return file;
    case FileState::Device:
        Check(::mknod(file.c_str(), S_IFCHR | 0644, makedev(1, 5)) == 0, "a device node");
        return file;
    case FileState::LinkToDevice:
        std::filesystem::create_symlink("/dev/zero", file);
        return file;
    case FileState::LinkToFile: {
        const auto target = elsewhere / ("kept-" + file.filename().string());
        WriteBytes(target, whole);
        std::filesystem::create_symlink(target, file);
        return target;
    }
    case FileState::OverBound: {
        std::string bytes(whole);
        bytes.append(1024 * 1024 + 1 - bytes.size(), '\n');
        WriteBytes(file, bytes);
        return file;
    }
    case FileState::Huge:
        WriteBytes(file, whole);
        std::filesystem::resize_file(file, 100'000'000);
        return file;
    case FileState::InvalidBytes: {
        std::string bytes;
        for (int i = 0; i < 4096; ++i)
            bytes.push_back(static_cast<char>(0x80 + (i * 37) % 128));
        bytes[100] = '\0';
        WriteBytes(file, bytes);
        return file;
    }
    case FileState::Unreadable:
        WriteBytes(file, whole);
        std::filesystem::permissions(file, std::filesystem::perms::none);
        return file;
    }
    return file;
}

std::string WithoutPermissionOverride(const std::function<std::string()>& action) {
    int pipe[2];
    Check(::pipe2(pipe, O_CLOEXEC) == 0, "a pipe");
    const pid_t child = ::fork();
    Check(child >= 0, "a child process");
    if (child == 0) {
        ::close(pipe[0]);
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2]{};
        if (::syscall(SYS_capget, &header, data) != 0)
            ::_exit(2);
        constexpr unsigned kOverride = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
        data[0].effective &= ~kOverride;
        if (::syscall(SYS_capset, &header, data) != 0)
            ::_exit(2);
        const std::string result = action();
        std::size_t written = 0;
        while (written < result.size()) {
            const ssize_t n = ::write(pipe[1], result.data() + written, result.size() - written);
            if (n <= 0)
                ::_exit(3);
            written += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(pipe[1]);
    std::string result;
    char chunk[4096];
    for (ssize_t n; (n = ::read(pipe[0], chunk, sizeof chunk)) > 0;)
        result.append(chunk, static_cast<std::size_t>(n));
    ::close(pipe[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? result : "child failed";
}

} // namespace zurodid::testing
