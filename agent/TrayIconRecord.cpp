#include "agent/TrayIconRecord.h"

#include "platform/CodePage.h"

#include <algorithm>

namespace zurodid {
namespace {

// Windows-874 keeps ASCII as it is: only the other characters need the converter, which is
// loaded at its first use.
char CodePageByteOf(char16_t c) {
    if (c < 0x80)
        return static_cast<char>(c);
    const char utf16[2] = {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    std::string bytes = ConvertCharset({utf16, 2}, "UTF-16LE", "WINDOWS-874").value_or("?");
    return bytes.size() == 1 ? bytes[0] : '?';
}

char16_t WideOf(char byte) {
    if (static_cast<unsigned char>(byte) < 0x80)
        return static_cast<char16_t>(byte);
    std::string utf16 =
        ConvertCharset({&byte, 1}, "WINDOWS-874", "UTF-16LE").value_or(std::string("?\0", 2));
    if (utf16.size() != 2)
        return u'?';
    return static_cast<char16_t>(static_cast<unsigned char>(utf16[0]) |
                                 static_cast<unsigned char>(utf16[1]) << 8);
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
    for (std::size_t i = 0; i < record.szTip.size(); ++i)
        out.szTip[i] = CodePageByteOf(record.szTip[i]);
    return out;
}

TrayIconRecord WideForm(const TrayIconRecordA& record) {
    TrayIconRecord out{record.cbSize,           record.hwnd,  record.uID, record.uFlags,
                       record.uCallbackMessage, record.hIcon, {}};
    for (std::size_t i = 0; i < record.szTip.size(); ++i)
        out.szTip[i] = WideOf(record.szTip[i]);
    return out;
}

} // namespace zurodid
