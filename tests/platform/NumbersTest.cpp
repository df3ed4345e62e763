#include "platform/Numbers.h"

#include "platform/RuntimeError.h"

#include <cmath>
#include <gtest/gtest.h>

namespace zurodid {
namespace {

struct ValueCase {
    std::string_view text;
    double value;
};

TEST(ValueOfText, ReadsTheNumberAtTheStart) {
    const ValueCase cases[] = {
        {"7", 7},
        {" 7 ", 7},
        {"12abc", 12},
        {"abc", 0},
        {"", 0},
        {"2.5", 2.5},
        {"&H10", 16},
        {"&h1f", 31},
        {"&O17", 15},
        {"&HFFFF", -1},
        {"&H8000", -32768},
        {"&H10000", 65536},
        {"-&H10", -16},
        {"1 2 3", 123},
        {"\t\n-4", -4},
        {"+ 5", 5},
        {"1.5.3", 1.5},
        {"1e3", 1000},
        {"1D2", 100},
        {"2E-1", 0.2},
        {"1e", 1},
        {".5", 0.5},
        {"5.", 5},
        {"--5", 0},
        {"\r7", 0},
        {std::string_view("4\0"
                          "9",
                          3),
         4},
        {"32768", 32768},
        {"1,5", 1},
        {"&", 0},
        {"&X1", 0},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(ValueOfText(c.text), c.value) << '"' << c.text << '"';
}

TEST(ValueOfText, HugeExponentsGiveInfinityOrZero) {
    EXPECT_TRUE(std::isinf(ValueOfText("1e999")));
    EXPECT_EQ(ValueOfText("1e-999"), 0.0);
}

TEST(RoundToInteger16, RoundsHalfToEvenWithinSixteenBits) {
    const std::pair<double, int> cases[] = {
        {0.5, 0}, {1.5, 2},       {2.5, 2},         {3.5, 4},         {-0.5, 0},         {-1.5, -2},
        {1.4, 1}, {32767, 32767}, {-32768, -32768}, {32767.4, 32767}, {-32768.5, -32768}};
    for (auto [value, expected] : cases)
        EXPECT_EQ(RoundToInteger16(value), expected) << value;
}

TEST(RoundToInteger16, RaisesOverflowOutsideTheRange) {
    for (double value : std::initializer_list<double>{32767.5, 32768.0, -32769.0, 1e19, INFINITY,
                                                      -INFINITY, NAN}) {
        try {
            RoundToInteger16(value);
            ADD_FAILURE() << value << " converted";
        } catch (const RuntimeError& error) {
            EXPECT_EQ(error.Number(), ErrorNumber::Overflow) << value;
        }
    }
}

TEST(ConvertStrictInteger16, AcceptsOnlyASignedDecimalNumber) {
    using Failure = StrictInteger16::Failure;
    struct Case {
        std::string_view text;
        std::optional<int> value;
        Failure failure;
    };
    const Case cases[] = {
        {"4", 4, Failure::None},
        {" 4 ", 4, Failure::None},
        {"2.5", 2, Failure::None},
        {"3.5", 4, Failure::None},
        {"-0.5", 0, Failure::None},
        {"+7", 7, Failure::None},
        {"-32768", -32768, Failure::None},
        {"32767", 32767, Failure::None},
        {".5", 0, Failure::None},
        {"32768", {}, Failure::OutOfRange},
        {"-40000", {}, Failure::OutOfRange},
        {"", {}, Failure::NotANumber},
        {"   ", {}, Failure::NotANumber},
        {"12abc", {}, Failure::NotANumber},
        {"abc", {}, Failure::NotANumber},
        {"1 2", {}, Failure::NotANumber},
        {"&H10", {}, Failure::NotANumber},
        {"1e3", {}, Failure::NotANumber},
        {"-", {}, Failure::NotANumber},
        {".", {}, Failure::NotANumber},
        {"1.2.3", {}, Failure::NotANumber},
    };
    for (const auto& c : cases) {
        StrictInteger16 result = ConvertStrictInteger16(c.text);
        EXPECT_EQ(result.failure, c.failure) << '"' << c.text << '"';
        if (c.value)
            EXPECT_EQ(result.value, c.value) << '"' << c.text << '"';
        else
            EXPECT_FALSE(result.value) << '"' << c.text << '"';
    }
}

TEST(DecimalText, WritesDigitsWithAMinusForNegatives) {
    EXPECT_EQ(DecimalText(7), "7");
    EXPECT_EQ(DecimalText(0), "0");
    EXPECT_EQ(DecimalText(-5), "-5");
    EXPECT_EQ(DecimalText(-32768), "-32768");
}

} // namespace
} // namespace zurodid
