#include "platform/Numbers.h"

#include "platform/RuntimeError.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <langinfo.h>
#include <limits>

namespace zurodid {
namespace {

bool IsSkipped(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexDigitValue(char c) {
    if (IsDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The characters of the text that the reading looks at: skipped ones removed, up to a NUL.
class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) { SkipBlanks(); }
    bool AtEnd() const { return pos_ >= text_.size() || text_[pos_] == '\0'; }
    char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
    void Next() {
        ++pos_;
        SkipBlanks();
    }

private:
    void SkipBlanks() {
        while (pos_ < text_.size() && IsSkipped(text_[pos_]))
            ++pos_;
    }
    std::string_view text_;
    std::size_t pos_ = 0;
};

// &H and &O values take the width of the smallest of 16 or 32 bits that holds their digits,
// so &HFFFF is -1 as the Windows runtime reads it.
double RadixValue(Reader& in, int radix) {
    unsigned long long value = 0;
    bool any = false;
    for (;;) {
        int digit = radix == 16 ? HexDigitValue(in.Peek())
                                : (in.Peek() >= '0' && in.Peek() <= '7' ? in.Peek() - '0' : -1);
        if (digit < 0)
            break;
        any = true;
        if (value > (std::numeric_limits<unsigned long long>::max() >> 4))
            return std::numeric_limits<double>::infinity();
        value = value * static_cast<unsigned>(radix) + static_cast<unsigned>(digit);
        in.Next();
    }
    if (!any)
        return 0;
    if (value <= 0xFFFF)
        return value > 0x7FFF ? static_cast<double>(value) - 65536.0 : static_cast<double>(value);
    if (value <= 0xFFFFFFFFull)
        return value > 0x7FFFFFFFull ? static_cast<double>(value) - 4294967296.0
                                     : static_cast<double>(value);
    return std::numeric_limits<double>::infinity();
}

} // namespace

double ValueOfText(std::string_view text) {
    Reader in(text);
    bool negative = false;
    if (in.Peek() == '+' || in.Peek() == '-') {
        negative = in.Peek() == '-';
        in.Next();
    }
    double value = 0;
    if (in.Peek() == '&') {
        in.Next();
        char prefix = in.Peek();
        if (prefix == 'H' || prefix == 'h') {
            in.Next();
            value = RadixValue(in, 16);
        } else if (prefix == 'O' || prefix == 'o') {
            in.Next();
            value = RadixValue(in, 8);
        }
        return negative ? -value : value;
    }

    std::string number;
    bool point = false;
    while (IsDigit(in.Peek()) || (in.Peek() == '.' && !point)) {
        point = point || in.Peek() == '.';
        number += in.Peek();
        in.Next();
    }
    if (number.find_first_of("0123456789") == std::string::npos)
        return 0;
    char e = in.Peek();
    if (e == 'E' || e == 'e' || e == 'D' || e == 'd') {
        std::string exponent = "e";
        in.Next();
        if (in.Peek() == '+' || in.Peek() == '-') {
            exponent += in.Peek();
            in.Next();
        }
        bool digits = false;
        while (IsDigit(in.Peek())) {
            digits = true;
            exponent += in.Peek();
            in.Next();
        }
        if (digits)
            number += exponent;
    }
    if (number.front() == '.')
        number = "0" + number; // insert() trips a false -Wrestrict in GCC 12
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error == std::errc::result_out_of_range)
        value =
            number.find("e-") != std::string::npos ? 0.0 : std::numeric_limits<double>::infinity();
    (void)end;
    return negative ? -value : value;
}

std::int16_t RoundToInteger16(double value) {
    // rint rounds half to even in the default rounding mode, as nearbyint does, and is
    // inlined, where nearbyint would be a call that maps a part of libm at start-up.
    double rounded = std::rint(value);
    if (!(rounded >= -32768.0 && rounded <= 32767.0))
        throw RuntimeError(ErrorNumber::Overflow, "Overflow");
    return static_cast<std::int16_t>(rounded);
}

StrictInteger16 ConvertStrictInteger16(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    std::string number;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        number += text[i++];
    std::size_t digits = 0;
    bool point = false;
    for (; i < text.size(); ++i) {
        if (IsDigit(text[i])) {
            ++digits;
        } else if (text[i] == '.' && !point) {
            point = true;
        } else {
            return {std::nullopt, StrictInteger16::Failure::NotANumber};
        }
        number += text[i];
    }
    if (digits == 0)
        return {std::nullopt, StrictInteger16::Failure::NotANumber};
    double value = ValueOfText(number);
    double rounded = std::rint(value);
    if (!(rounded >= -32768.0 && rounded <= 32767.0))
        return {std::nullopt, StrictInteger16::Failure::OutOfRange};
    return {static_cast<std::int16_t>(rounded), StrictInteger16::Failure::None};
}

std::string DecimalText(std::int16_t value) {
    return std::to_string(value);
}

std::string GeneralNumberText(double value) {
    if (value == 0)
        return "0"; // no "-0"
    // printf's %.15g is that rule; to_chars writes it whatever the locale says.
    char buffer[32];
    auto written =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    std::string text(buffer, written.ptr);
    std::replace(text.begin(), text.end(), 'e', 'E');
    if (std::string_view radix = nl_langinfo(RADIXCHAR); !radix.empty() && radix != ".")
        if (auto point = text.find('.'); point != std::string::npos)
            text.replace(point, 1, radix);
    return text;
}

} // namespace zurodid
