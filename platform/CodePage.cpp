#include "platform/CodePage.h"

#include <cerrno>
#include <iconv.h>

namespace zurodid {
namespace {

std::size_t Utf8SequenceLength(unsigned char lead) {
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0)
        return 2;
    if ((lead & 0xF0) == 0xE0)
        return 3;
    if ((lead & 0xF8) == 0xF0)
        return 4;
    return 1;
}

// Converts with iconv, writing "?" for each input character the target cannot hold.
std::string Convert(const char* to, const char* from, std::string_view input, bool inputIsUtf8) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::string(input);
    std::string out;
    out.reserve(input.size() * 2);
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    char buffer[256];
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        std::size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (result != static_cast<std::size_t>(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // EILSEQ or an incomplete sequence at the end: one "?" for the character, then on.
        out += '?';
        std::size_t skip = inputIsUtf8 ? Utf8SequenceLength(static_cast<unsigned char>(*in)) : 1;
        if (skip > inLeft)
            skip = inLeft;
        in += skip;
        inLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return out;
}

} // namespace

std::string Utf8FromWindows874(std::string_view bytes) {
    return Convert("UTF-8", "WINDOWS-874", bytes, false);
}

std::string Windows874FromUtf8(std::string_view utf8) {
    return Convert("WINDOWS-874", "UTF-8", utf8, true);
}

} // namespace zurodid
