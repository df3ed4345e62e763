#include "store/AgentSettings.h"

#include "platform/Numbers.h"
#include "store/Module1.h"

namespace zurodid {

std::int16_t ReadSetting(const Module1& module1, std::string_view key) {
    return RoundToInteger16(ValueOfText(module1.ReadINI(kSettingsSection, key)));
}

} // namespace zurodid
