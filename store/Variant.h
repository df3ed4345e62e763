#pragma once

#include "platform/DateTime.h"

#include <string>
#include <variant>

namespace zurodid {

// A field value as the diary engine hands it out: Null, a number, a text, a date/time or a
// Yes/No.
struct Null {
    friend bool operator==(Null, Null) = default;
};
using Variant = std::variant<Null, double, std::string, DateTime, bool>;

inline bool IsNull(const Variant& value) {
    return std::holds_alternative<Null>(value);
}

// The value as text, as the Windows runtime writes it: numbers by GeneralNumberText, dates by
// GeneralDateText, Yes/No as "True" or "False"; Null raises
// RuntimeError(ErrorNumber::InvalidUseOfNull).
std::string TextOf(const Variant& value);

// The value as a date/time: a date/time as it is, a number as an OLE date (Yes -1, No 0); Null
// raises
// InvalidUseOfNull, a text or an out-of-range number TypeMismatch.
DateTime DateOfValue(const Variant& value);

} // namespace zurodid
