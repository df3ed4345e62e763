// The number reading of the settings and of the Options dialog, on any bytes.
#include "platform/Numbers.h"
#include "platform/RuntimeError.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    double value = zurodid::ValueOfText(text);
    try {
        std::int16_t rounded = zurodid::RoundToInteger16(value);
        if (std::fabs(rounded - value) > 0.5)
            std::abort();
    } catch (const zurodid::RuntimeError& error) {
        if (error.Number() != zurodid::ErrorNumber::Overflow)
            std::abort();
    }
    auto strict = zurodid::ConvertStrictInteger16(text);
    // What the strict rule accepts, the start-up rule reads the same.
    if (strict.value && text.find_first_of("\n") == std::string_view::npos &&
        zurodid::RoundToInteger16(zurodid::ValueOfText(text)) != *strict.value)
        std::abort();
    return 0;
}
