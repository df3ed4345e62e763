#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace zurodid {

struct WriteOutcome {
    bool ok = true;
    std::string error;   // what failed, for a message to the user
    int errorNumber = 0; // the system's error number (errno)
};

// An open descriptor of a regular file, or why there is none.
struct RegularFileOpen {
    int fd = -1;
    bool exists = false; // something is there by that name
    int error = 0;       // errno-style number when fd is -1 (EISDIR for a folder)
    std::string reason;  // its text, naming the kind of file when it is not a regular one
};

// Opens `file` (links followed) for reading only when it is a regular file. Nothing else
// (folder, FIFO, device, socket) is opened at all, and the open itself cannot block.
RegularFileOpen OpenRegularFileForReading(const std::filesystem::path& file);

// What reading a whole file up to a bound gave.
struct BoundedRead {
    std::string bytes;
    bool exists = false; // false with error 0: no such file
    int error = 0;       // errno-style number when it is there but cannot be read
    std::string reason;
    bool cut = false; // the file holds more than the bound: `bytes` is its start
};

// Reads a regular file up to `maxBytes`; never throws, never blocks on a FIFO or a device.
BoundedRead ReadRegularFile(const std::filesystem::path& file, std::size_t maxBytes);

// `file` with the symbolic links of its last part followed to what they name (which may not
// exist yet); `file` itself when it is no link. ELOOP in `error` for a chain without end.
std::filesystem::path ResolveFinalLinks(const std::filesystem::path& file, int& error);

// The folder that holds the running executable, as the system reports it now.
std::filesystem::path ExecutableFolder();

// Writes `bytes` to a temporary file beside `file`, flushes it to disk and renames it over
// `file`, keeping the old file's permissions. A symbolic link is followed and its target
// replaced, so the link stays; anything there other than a regular file is left alone. The
// temporary file is unnamed while it is written; a short-lived child process names it
// "<file>.<pid>.tmp" and renames it, so a kill of this process at any moment leaves no temporary
// file (a crash of the machine can).
WriteOutcome ReplaceFileAtomically(const std::filesystem::path& file, std::string_view bytes);

// Writes all of `bytes` to the descriptor, going on after interruptions; false on an error
// (errno tells which).
bool WriteAll(int fd, std::string_view bytes);

// Removes the temporary files that writers of `file` killed in that moment left behind: those
// of processes that no longer run. ReplaceFileAtomically does this before every write.
void RemoveUnfinishedReplacements(const std::filesystem::path& file);

} // namespace zurodid
