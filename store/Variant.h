#pragma once

#include "platform/DateTime.h"

#include <string>
#include <variant>

namespace zurodid {

// A field value as the diary engine hands it out: Null, a number, a text or a date/time.
struct Null {
    friend bool operator==(Null, Null) = default;
};
using Variant = std::variant<Null, double, std::string, DateTime>;

inline bool IsNull(const Variant& value) {
    return std::holds_alternative<Null>(value);
}

// The value as text (numbers in their shortest decimal form, dates as dd/mm/yyyy hh:nn:ss);
// Null raises RuntimeError(ErrorNumber::InvalidUseOfNull).
std::string TextOf(const Variant& value);

// The value as a date/time: a date/time as it is, a number as an OLE date; Null raises
// InvalidUseOfNull, a text or an out-of-range number TypeMismatch.
DateTime DateOfValue(const Variant& value);

} // namespace zurodid
