#include "store/Module1.h"

#include "platform/CodePage.h"
#include "platform/Files.h"

namespace zurodid {

std::filesystem::path Module1::SettingsPath() const {
    return folder_() / kSettingsFileName;
}

std::string Module1::ReadINI(std::string_view section, std::string_view key) const {
    std::string stored =
        GetPrivateProfileString(Windows874FromUtf8(section), Windows874FromUtf8(key), "",
                                kProfileReturnField, SettingsPath());
    // One byte of the code page is one character of the field.
    return Utf8FromWindows874(stored) + std::string(kProfileReturnField - stored.size(), '\0');
}

WriteOutcome Module1::WriteINI(std::string_view section, std::string_view key,
                               std::string_view value) const {
    return WritePrivateProfileString(Windows874FromUtf8(section), Windows874FromUtf8(key),
                                     Windows874FromUtf8(value), SettingsPath());
}

void Module1::RemoveUnfinishedWrites() const {
    RemoveUnfinishedReplacements(SettingsPath());
}

} // namespace zurodid
