#include "store/Variant.h"

#include "platform/Numbers.h"
#include "platform/RuntimeError.h"

namespace zurodid {

std::string TextOf(const Variant& value) {
    struct Visitor {
        std::string operator()(Null) const {
            throw RuntimeError(ErrorNumber::InvalidUseOfNull, "Invalid use of Null");
        }
        std::string operator()(double number) const { return GeneralNumberText(number); }
        std::string operator()(const std::string& text) const { return text; }
        std::string operator()(DateTime date) const { return GeneralDateText(date); }
        std::string operator()(bool yes) const { return yes ? "True" : "False"; }
    };
    return std::visit(Visitor{}, value);
}

DateTime DateOfValue(const Variant& value) {
    if (IsNull(value))
        throw RuntimeError(ErrorNumber::InvalidUseOfNull, "Invalid use of Null");
    if (auto date = std::get_if<DateTime>(&value))
        return *date;
    if (auto yes = std::get_if<bool>(&value))
        return *DateTimeFromOleDate(*yes ? -1.0 : 0.0);
    if (auto number = std::get_if<double>(&value))
        if (auto date = DateTimeFromOleDate(*number))
            return *date;
    throw RuntimeError(ErrorNumber::TypeMismatch, "Type mismatch");
}

} // namespace zurodid
