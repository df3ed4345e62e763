#pragma once

#include <string>
#include <string_view>

namespace zurodid::jet {

// Converts `bytes` from the iconv charset `from` to UTF-8; a sequence that cannot be
// converted becomes "?". Empty when the charset is unknown to iconv.
std::string ConvertToUtf8(std::string_view bytes, const char* from);

// The iconv name of a Windows code page number ("CP874" for 874).
std::string CharsetOfCodePage(unsigned codePage);

} // namespace zurodid::jet
