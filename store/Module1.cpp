#include "store/Module1.h"

#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/Log.h"

#include <cerrno>
#include <cstring>

namespace zurodid {

std::filesystem::path Module1::SettingsPath() const {
    return folder_() / kSettingsFileName;
}

std::string Module1::ReadINI(std::string_view section, std::string_view key) const {
    const std::filesystem::path path = SettingsPath();
    ProfileRead read = ReadPrivateProfileString(
        Windows874FromUtf8(section), Windows874FromUtf8(key), "", kProfileReturnField, path);
    // A file that is there but cannot be read reads as empty, as a missing one; one beyond
    // the bound reads from its start. Each said once, not once per key or per Refresh.
    const int state = read.error != 0 ? read.error : read.cut ? EFBIG : 0;
    if (state != 0 && state != lastReadError_) {
        if (read.error != 0)
            LogFailure("reading the settings", read.error, read.reason, path);
        else
            LogFailure("reading the settings, only its first " +
                           std::to_string(kMaxProfileBytes / 1024) + " KiB",
                       EFBIG, std::strerror(EFBIG), path);
    }
    lastReadError_ = state;
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
