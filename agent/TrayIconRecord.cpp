#include "agent/TrayIconRecord.h"

#include "platform/CodePage.h"

#include <algorithm>

namespace zurodid {
namespace {

std::string Utf8Of(char16_t c) {
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

char16_t WideOf(const std::string& utf8) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(utf8[i]); };
    if (utf8.empty())
        return u'?';
    if (byte(0) < 0x80)
        return byte(0);
    if (utf8.size() == 2)
        return static_cast<char16_t>(((byte(0) & 0x1F) << 6) | (byte(1) & 0x3F));
    if (utf8.size() == 3)
        return static_cast<char16_t>(((byte(0) & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) |
                                     (byte(2) & 0x3F));
    return u'?';
}

} // namespace

std::string TrayIconRecordA::Tip() const {
    auto end = std::find(szTip.begin(), szTip.end(), '\0');
    return Utf8FromWindows874(std::string(szTip.begin(), end));
}

// One wide character is one byte of the code page in the record's tip.
TrayIconRecordA SingleByteForm(const TrayIconRecord& record) {
    TrayIconRecordA out{record.cbSize,           record.hwnd,  record.uID, record.uFlags,
                        record.uCallbackMessage, record.hIcon, {}};
    for (std::size_t i = 0; i < record.szTip.size(); ++i) {
        std::string bytes = Windows874FromUtf8(Utf8Of(record.szTip[i]));
        out.szTip[i] = bytes.size() == 1 ? bytes[0] : '?';
    }
    return out;
}

TrayIconRecord WideForm(const TrayIconRecordA& record) {
    TrayIconRecord out{record.cbSize,           record.hwnd,  record.uID, record.uFlags,
                       record.uCallbackMessage, record.hIcon, {}};
    for (std::size_t i = 0; i < record.szTip.size(); ++i)
        out.szTip[i] = record.szTip[i] == '\0'
                           ? u'\0'
                           : WideOf(Utf8FromWindows874(std::string(1, record.szTip[i])));
    return out;
}

} // namespace zurodid
