#include "platform/Text.h"

#include <gtest/gtest.h>

namespace zurodid {
namespace {

std::string Repeat(std::string_view piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i)
        out += piece;
    return out;
}

TEST(CutForDisplay, CutsAtTheLimitInCharactersAndMarksTheCut) {
    const std::string invalid(3000, '\x80'); // each byte one character, as a display shows it
    struct Case {
        const char* name;
        std::string text;
        std::size_t limit;
        std::string expected;
    };
    const Case cases[] = {
        {"short", "09:05 : ฟัน", 1024, "09:05 : ฟัน"},
        {"exactly the limit", std::string(1024, 'a'), 1024, std::string(1024, 'a')},
        {"one over", std::string(1025, 'a'), 1024, std::string(1023, 'a') + "…"},
        {"Thai counted by characters, not bytes", Repeat("ก", 1024), 1024, Repeat("ก", 1024)},
        {"Thai over", Repeat("ก", 2000), 1024, Repeat("ก", 1023) + "…"},
        {"four-byte characters", Repeat("😀", 5), 3, Repeat("😀", 2) + "…"},
        {"invalid bytes count one each", invalid, 1024, std::string(1023, '\x80') + "…"},
        {"a sequence cut short by the end", "ab\xE0\xB8", 4, "ab\xE0\xB8"},
        {"empty", "", 1024, ""},
    };
    for (const Case& c : cases) {
        const std::string cut = CutForDisplay(c.text, c.limit);
        EXPECT_EQ(cut, c.expected) << c.name;
        EXPECT_LE(DisplayLength(cut), c.limit) << c.name;
    }
}

} // namespace
} // namespace zurodid
