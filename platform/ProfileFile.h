#pragma once

#include "platform/Files.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace zurodid {

// Private-profile (INI) files with the Windows rules: names compared without regard to case,
// blanks around keys and values ignored, a value in matching quotes returned without them,
// the first of two equal keys winning, a write replacing a value in place and keeping every
// other byte. Written here because no library on Linux reproduces these rules.
// All texts are bytes of the file's code page; the caller converts.

// At most size - 1 bytes of the value, or of `fallback` when the file, section or key is missing.
std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view fallback, std::size_t size,
                                    const std::filesystem::path& file);

// A settings file is a few hundred bytes; what lies beyond this is never read, so that no file
// (a huge one, a link to /dev/zero) can take the agent's memory or time.
inline constexpr std::size_t kMaxProfileBytes = 1024 * 1024;

// The same, with the system's error number when the file is there but cannot be read (0
// otherwise; the value is then the fallback), and whether the file was read only up to
// kMaxProfileBytes.
struct ProfileRead {
    std::string value;
    int error = 0;
    std::string reason; // the error's text
    bool cut = false;
};
ProfileRead ReadPrivateProfileString(std::string_view section, std::string_view key,
                                     std::string_view fallback, std::size_t size,
                                     const std::filesystem::path& file);

// Replaces the file atomically (temporary file in the same folder, flushed, renamed over the
// old one with its permissions), so a crash or a full disk leaves the old file or the new one.
// A file larger than kMaxProfileBytes, or one that cannot be read, is left as it is (EFBIG):
// rewriting it from what was read would lose the rest.
WriteOutcome WritePrivateProfileString(std::string_view section, std::string_view key,
                                       std::string_view value, const std::filesystem::path& file);

// The edit itself, on the file's bytes: what WritePrivateProfileString writes.
std::string EditProfileText(std::string_view text, std::string_view section, std::string_view key,
                            std::string_view value);

// The lookup itself, on the file's bytes; empty when the section or key is missing.
std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key);

} // namespace zurodid
