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

// The folder that holds the running executable, as the system reports it now.
std::filesystem::path ExecutableFolder();

// Writes `bytes` to a temporary file beside `file`, flushes it to disk and renames it over
// `file`, keeping the old file's permissions. The temporary file is unnamed while it is
// written; a short-lived child process names it "<file>.<pid>.tmp" and renames it, so a kill
// of this process at any moment leaves no temporary file (a crash of the machine can).
WriteOutcome ReplaceFileAtomically(const std::filesystem::path& file, std::string_view bytes);

// Writes all of `bytes` to the descriptor, going on after interruptions; false on an error
// (errno tells which).
bool WriteAll(int fd, std::string_view bytes);

// Removes the temporary files that writers of `file` killed in that moment left behind: those
// of processes that no longer run. ReplaceFileAtomically does this before every write.
void RemoveUnfinishedReplacements(const std::filesystem::path& file);

} // namespace zurodid
