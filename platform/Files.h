#pragma once

#include "platform/ProfileFile.h"

#include <filesystem>
#include <string_view>

namespace zurodid {

// The folder that holds the running executable, as the system reports it now.
std::filesystem::path ExecutableFolder();

// Writes `bytes` to a temporary file beside `file`, flushes it to disk and renames it over
// `file`, keeping the old file's permissions.
WriteOutcome ReplaceFileAtomically(const std::filesystem::path& file, std::string_view bytes);

} // namespace zurodid
