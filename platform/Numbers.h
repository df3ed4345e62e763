#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zurodid {

// The numeric value of a text read from the left, as the settings reader takes it: blanks,
// tabs and line feeds skipped anywhere, a sign, &H / &O radix prefixes or decimal digits with
// one full stop (whatever the locale) and an E or D exponent; stops at the first character
// that fits none; no number at the start gives 0.
double ValueOfText(std::string_view text);

// Nearest 16-bit integer, a half going to the even neighbour; outside -32768..32767 raises
// RuntimeError(ErrorNumber::Overflow).
std::int16_t RoundToInteger16(double value);

// The stricter conversion of a number typed into a dialog box: optional blanks around,
// optional sign, digits with an optional fractional part, nothing else.
struct StrictInteger16 {
    enum class Failure { None, NotANumber, OutOfRange };
    std::optional<std::int16_t> value;
    Failure failure = Failure::None;
};
StrictInteger16 ConvertStrictInteger16(std::string_view text);

// Decimal digits with a leading minus for negatives: 7, 0, -5.
std::string DecimalText(std::int16_t value);

// A number as the Windows runtime turns it into text: at most 15 significant digits, the
// exponent form ("1E+15", "1E-05") only below 0.0001 or from 1E+15 on, the user's decimal
// separator (the C library's locale). 1000000 gives "1000000", 2.5 "2.5".
std::string GeneralNumberText(double value);

} // namespace zurodid
