#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zurodid {

// Converts between two iconv charsets, one "?" for each character that the target cannot hold
// or that the input does not form, as the Windows conversion does. Empty when iconv knows
// either charset not.
std::optional<std::string> ConvertCharset(std::string_view input, const char* from, const char* to);

// The single-byte Thai code page (Windows-874) of the settings file.
std::string Utf8FromWindows874(std::string_view bytes);
std::string Windows874FromUtf8(std::string_view utf8);

} // namespace zurodid
