#include "platform/Text.h"

namespace zurodid {
namespace {

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Bytes of the character at `at`: a whole valid sequence, or 1 for a byte that starts none.
std::size_t CharacterSize(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t size = 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        size = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        size = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        size = 4;
    if (at + size > text.size())
        return 1;
    for (std::size_t i = 1; i < size; ++i)
        if (!IsContinuation(static_cast<unsigned char>(text[at + i])))
            return 1;
    return size;
}

} // namespace

std::size_t DisplayLength(std::string_view utf8) {
    std::size_t characters = 0;
    for (std::size_t at = 0; at < utf8.size(); at += CharacterSize(utf8, at))
        ++characters;
    return characters;
}

std::string CutForDisplay(std::string_view utf8, std::size_t maxCharacters) {
    if (maxCharacters == 0)
        return {};
    std::size_t at = 0;
    std::size_t characters = 0;
    std::size_t keep = 0; // bytes of the first maxCharacters - 1 characters
    while (at < utf8.size()) {
        if (characters == maxCharacters - 1)
            keep = at;
        if (characters == maxCharacters)
            return std::string(utf8.substr(0, keep)) + std::string(kCutMark);
        at += CharacterSize(utf8, at);
        ++characters;
    }
    return std::string(utf8);
}

std::string_view Utf8PrefixOfBytes(std::string_view utf8, std::size_t maxBytes) noexcept {
    if (utf8.size() <= maxBytes)
        return utf8;
    std::size_t cut = maxBytes;
    // Back to the start of the sequence the cut falls in; a sequence has at most four bytes.
    for (int step = 0; step < 3 && cut > 0 && IsContinuation(static_cast<unsigned char>(utf8[cut]));
         ++step)
        --cut;
    return utf8.substr(0, cut);
}

} // namespace zurodid
