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
    EXPECT_EQ(DateOfValue(Variant{date}), date);
    EXPECT_EQ(DateOfValue(Variant{OleDateFromDateTime(date)}), date);
    EXPECT_EQ(ErrorOf([] { TextOf(Variant{Null{}}); }), ErrorNumber::InvalidUseOfNull);
    EXPECT_EQ(ErrorOf([] { DateOfValue(Variant{Null{}}); }), ErrorNumber::InvalidUseOfNull);
    EXPECT_EQ(ErrorOf([] { DateOfValue(Variant{std::string("x")}); }), ErrorNumber::TypeMismatch);
    EXPECT_EQ(ErrorOf([] { DateOfValue(Variant{1e300}); }), ErrorNumber::TypeMismatch);
}

TEST(Variant, TextAsTheWindowsRuntimeWritesIt) {
    // In the C library's "C" locale: "." for the decimal point, "%m/%d/%y" and "%H:%M:%S".
    using namespace std::chrono;
    const std::pair<Variant, std::string_view> cases[] = {
        {42.0, "42"},
        {2.5, "2.5"},
        {1000000.0, "1000000"},
        {-32768.0, "-32768"},
        {2147483647.0, "2147483647"},
        {123456789012345.0, "123456789012345"},
        {1e15, "1E+15"},
        {-1.5e20, "-1.5E+20"},
        {0.0001, "0.0001"},
        {0.00001, "1E-05"},
        {1.0 / 3.0, "0.333333333333333"},
        {-0.0, "0"},
        {true, "True"},
        {false, "False"},
        {MakeDateTime(year{2026} / December / 7, hours{9} + minutes{5}), "12/07/26 09:05:00"},
        {MakeDateTime(year{2026} / December / 7), "12/07/26"},
        {MakeDateTime(year{1899} / December / 30, hours{9} + minutes{5}), "09:05:00"},
        {MakeDateTime(year{1899} / December / 30), "00:00:00"},
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(TextOf(value), text) << text;
}

} // namespace
} // namespace zurodid
