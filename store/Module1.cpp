#include "store/Module1.h"

#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/Log.h"

#include <cstring>

namespace zurodid {

std::filesystem::path Module1::SettingsPath() const {
    return folder_() / kSettingsFileName;
}

std::string Module1::ReadINI(std::string_view section, std::string_view key) const {
    const std::filesystem::path path = SettingsPath();
    ProfileRead read = ReadPrivateProfileString(
        Windows874FromUtf8(section), Windows874FromUtf8(key), "", kProfileReturnField, path);
    // A file that is there but cannot be read reads as empty, as a missing one: said once,
    // not once per key.
    if (read.error != 0 && read.error != lastReadError_)
        LogFailure("reading the settings", read.error, std::strerror(read.error), path);
    lastReadError_ = read.error;
    const std::string& stored = read.value;
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
