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

// How far to step over one input character that does not convert.
std::size_t StepOver(std::string_view from, const char* at, std::size_t left) {
    std::size_t step = 1;
    if (from.starts_with("UTF-8"))
        step = Utf8SequenceLength(static_cast<unsigned char>(*at));
    else if (from.starts_with("UTF-16"))
        step = 2;
    return step < left ? step : left;
}

} // namespace

std::optional<std::string> ConvertCharset(std::string_view input, const char* from,
                                          const char* to) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
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
        if (result != static_cast<std::size_t>(-1) || errno == E2BIG)
            continue;
        // EILSEQ or an incomplete sequence at the end: one "?" for the character, then on.
        out += '?';
        std::size_t step = StepOver(from, in, inLeft);
        in += step;
        inLeft -= step;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return out;
}

std::string Utf8FromWindows874(std::string_view bytes) {
    return ConvertCharset(bytes, "WINDOWS-874", "UTF-8").value_or(std::string(bytes));
}

std::string Windows874FromUtf8(std::string_view utf8) {
    return ConvertCharset(utf8, "UTF-8", "WINDOWS-874").value_or(std::string(utf8));
}

} // namespace zurodid
