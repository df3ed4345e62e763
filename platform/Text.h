#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zurodid {

// The most characters a message box or a list cell shows: the message boxes of the platform
// the diary comes from show no more, and a text far longer takes seconds to lay out.
inline constexpr std::size_t kMaxDisplayCharacters = 1024;

// The mark that ends a text cut for display.
inline constexpr std::string_view kCutMark = "…";

// Number of characters of a UTF-8 text as a display shows them: each code point one, each byte
// that starts no valid sequence one.
std::size_t DisplayLength(std::string_view utf8);

// `utf8` when it has at most `maxCharacters` characters; else its first maxCharacters - 1
// characters followed by kCutMark, so that the result has exactly `maxCharacters`.
std::string CutForDisplay(std::string_view utf8, std::size_t maxCharacters);

// The longest start of `utf8` of at most `maxBytes` bytes that does not end inside a UTF-8
// sequence. Allocates nothing (it runs in the reading child).
std::string_view Utf8PrefixOfBytes(std::string_view utf8, std::size_t maxBytes) noexcept;

} // namespace zurodid
