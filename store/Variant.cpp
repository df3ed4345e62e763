#include "store/Variant.h"

#include "platform/RuntimeError.h"

#include <charconv>

namespace zurodid {

std::string TextOf(const Variant& value) {
    struct Visitor {
        std::string operator()(Null) const {
            throw RuntimeError(ErrorNumber::InvalidUseOfNull, "Invalid use of Null");
        }
        std::string operator()(double number) const {
            char buffer[32];
            auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
            return std::string(buffer, result.ptr);
        }
        std::string operator()(const std::string& text) const { return text; }
        std::string operator()(DateTime date) const {
            return FormatDateTime(date, "dd/mm/yyyy hh:nn:ss");
        }
    };
    return std::visit(Visitor{}, value);
}

DateTime DateOfValue(const Variant& value) {
    if (IsNull(value))
        throw RuntimeError(ErrorNumber::InvalidUseOfNull, "Invalid use of Null");
    if (auto date = std::get_if<DateTime>(&value))
        return *date;
    if (auto number = std::get_if<double>(&value))
        if (auto date = DateTimeFromOleDate(*number))
            return *date;
    throw RuntimeError(ErrorNumber::TypeMismatch, "Type mismatch");
}

} // namespace zurodid
