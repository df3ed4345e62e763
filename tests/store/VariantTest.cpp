#include "store/Variant.h"

#include "platform/RuntimeError.h"

#include <gtest/gtest.h>

namespace zurodid {
namespace {

int ErrorOf(auto&& action) {
    try {
        action();
    } catch (const RuntimeError& error) {
        return error.Number();
    }
    return 0;
}

TEST(Variant, ConvertsToTextAndDate) {
    using namespace std::chrono;
    DateTime date = MakeDateTime(year{2026} / December / 7, hours{9} + minutes{5});
    EXPECT_EQ(TextOf(Variant{std::string("นัด")}), "นัด");
    EXPECT_EQ(TextOf(Variant{42.0}), "42");
    EXPECT_EQ(TextOf(Variant{2.5}), "2.5");
    EXPECT_EQ(TextOf(Variant{date}), "07/12/2026 09:05:00");
    EXPECT_EQ(DateOfValue(Variant{date}), date);
    EXPECT_EQ(DateOfValue(Variant{OleDateFromDateTime(date)}), date);
    EXPECT_EQ(ErrorOf([] { TextOf(Variant{Null{}}); }), ErrorNumber::InvalidUseOfNull);
    EXPECT_EQ(ErrorOf([] { DateOfValue(Variant{Null{}}); }), ErrorNumber::InvalidUseOfNull);
    EXPECT_EQ(ErrorOf([] { DateOfValue(Variant{std::string("x")}); }), ErrorNumber::TypeMismatch);
    EXPECT_EQ(ErrorOf([] { DateOfValue(Variant{1e300}); }), ErrorNumber::TypeMismatch);
}

} // namespace
} // namespace zurodid
