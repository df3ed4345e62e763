#pragma once

#include <string>
#include <string_view>

namespace zurodid {

// The single-byte Thai code page (Windows-874) of the settings file, converted with iconv.
// A character that the code page cannot hold becomes "?", as the Windows conversion does.
std::string Utf8FromWindows874(std::string_view bytes);
std::string Windows874FromUtf8(std::string_view utf8);

} // namespace zurodid
