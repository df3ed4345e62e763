#include "store/jet/TextCodec.h"

#include <cerrno>
#include <iconv.h>

namespace zurodid::jet {

std::string ConvertToUtf8(std::string_view bytes, const char* from) {
    iconv_t cd = iconv_open("UTF-8", from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return {};
    }
    std::string out;
    out.resize(bytes.size() * 4 + 16);
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char* dest = out.data();
    std::size_t destLeft = out.size();
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &dest, &destLeft) != static_cast<std::size_t>(-1)) {
            break;
        }
        if (errno == E2BIG) {
            break; // cannot happen: four bytes out for every byte in
        }
        // An invalid or incomplete sequence: one unit becomes "?", as libmdb does.
        ++in;
        --inLeft;
        if (destLeft > 0) {
            *dest++ = '?';
            --destLeft;
        }
    }
    iconv_close(cd);
    out.resize(out.size() - destLeft);
    return out;
}

std::string CharsetOfCodePage(unsigned codePage) { return "CP" + std::to_string(codePage); }

} // namespace zurodid::jet
