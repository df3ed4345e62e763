#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace zurodid::testing {

// What a folder can hold in the place of one of the agent's files.
enum class FileState {
    Folder,
    Fifo,         // no writer: an open or a read of it blocks
    Device,       // /dev/zero's device node
    LinkToDevice, // to /dev/zero: endless bytes
    LinkToFile,   // to a whole file kept in another folder
    OverBound,    // the whole file, then blank lines up to 1 MiB + 1 byte
    Huge,         // the whole file, then 100 MB of zero bytes (sparse)
    InvalidBytes, // bytes of no text or format
    Unreadable,   // permissions 000
};

struct FileStateCase {
    const char* name;
    FileState state;
};

inline constexpr FileStateCase kFileStates[] = {
    {"a folder", FileState::Folder},
    {"a FIFO", FileState::Fifo},
    {"a device", FileState::Device},
    {"a link to a device", FileState::LinkToDevice},
    {"a link to a file", FileState::LinkToFile},
    {"1 MiB + 1 byte", FileState::OverBound},
    {"100 MB", FileState::Huge},
    {"invalid bytes", FileState::InvalidBytes},
    {"unreadable", FileState::Unreadable},
};

// Puts `state` at `file`; `whole` is the content of a sound file of its kind. A link's target
// goes into `elsewhere`. Returns the path whose bytes stand for the file (the link's target,
// else `file`).
std::filesystem::path MakeFileState(const std::filesystem::path& file, FileState state,
                                    std::string_view whole, const std::filesystem::path& elsewhere);

// Runs `action` in a child process without the power to read or write past permissions (the
// tests run as root) and returns what it returned. "child failed" when it ended otherwise.
std::string WithoutPermissionOverride(const std::function<std::string()>& action);

} // namespace zurodid::testing
