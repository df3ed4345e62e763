// The private-profile parser and editor, on any bytes: an edit must read back and must keep
// every other key's value.
#include "platform/ProfileFile.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto other = zurodid::FindProfileValue(text, "Other", "Key");
    auto before = zurodid::FindProfileValue(text, "Agent", "Remind");
    std::string edited = zurodid::EditProfileText(text, "Agent", "Remind", "12");
    auto after = zurodid::FindProfileValue(edited, "Agent", "Remind");
    if (after != std::optional<std::string>("12"))
        std::abort();
    if (zurodid::FindProfileValue(edited, "Other", "Key") != other)
        std::abort();
    (void)before;
    return 0;
}
