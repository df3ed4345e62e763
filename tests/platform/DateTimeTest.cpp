#include "platform/DateTime.h"

#include "platform/Numbers.h"
#include "support/TempFolder.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>

namespace zurodid {
namespace {

using namespace std::chrono;

DateTime At(int y, unsigned m, unsigned d, int hh = 0, int mm = 0, int ss = 0) {
    return MakeDateTime(year{y} / month{m} / day{d}, hours{hh} + minutes{mm} + seconds{ss});
}

TEST(OleDate, ConvertsAcrossTheWholeRange) {
    struct Case {
        double ole;
        DateTime expected;
    };
    const Case cases[] = {
        {0.0, At(1899, 12, 30)},
        {1.0, At(1899, 12, 31)},
        {2.0, At(1900, 1, 1)},
        {-1.25, At(1899, 12, 29, 6)}, // negative days, time still forward
        {-0.5, At(1899, 12, 30, 12)},
        {0.01171875, At(1899, 12, 30, 0, 16, 53)}, // 1012.5 s: a half second rounds up
        {46363.378472222, At(2026, 12, 7, 9, 5)},
        {46363.999988426, At(2026, 12, 7, 23, 59, 59)},
        {-657434.0, At(100, 1, 1)},
        {2958465.0, At(9999, 12, 31)},
        {60.0, At(1900, 2, 28)},
        {61.0, At(1900, 3, 1)},
    };
    for (const auto& c : cases) {
        auto converted = DateTimeFromOleDate(c.ole);
        ASSERT_TRUE(converted) << c.ole;
        EXPECT_EQ(*converted, c.expected)
            << c.ole << " gave " << FormatDateTime(*converted, "dd/mm/yyyy hh:nn:ss");
        // Between -1 and 0 two numbers name each moment; the inverse gives the positive one.
        if (c.ole >= 0 || c.ole <= -1) {
            EXPECT_NEAR(OleDateFromDateTime(c.expected), c.ole, 1e-5) << c.ole;
        }
    }
}

TEST(OleDate, RejectsWhatNoDateIs) {
    for (double ole :
         std::initializer_list<double>{NAN, INFINITY, -INFINITY, -657435.5, 2958466.0, 1e300})
        EXPECT_FALSE(DateTimeFromOleDate(ole)) << ole;
}

TEST(Calendar, CountsDayBoundariesNotHours) {
    EXPECT_EQ(DaysBetween(At(2026, 12, 7, 23, 59), At(2026, 12, 8, 0, 1)), 1);
    EXPECT_EQ(DaysBetween(At(2026, 12, 8, 0, 1), At(2026, 12, 7, 23, 59)), -1);
    EXPECT_EQ(DaysBetween(At(2026, 12, 7), At(2026, 12, 7, 23, 59)), 0);
    EXPECT_EQ(DaysBetween(At(2026, 12, 31), At(2027, 1, 1)), 1);
    EXPECT_EQ(AddDays(At(2026, 12, 30, 8), 3), At(2027, 1, 2, 8));
}

TEST(Calendar, RollsADayBeyondTheMonthOver) {
    EXPECT_EQ(DateRollingOver(2027, 2, 29), At(2027, 3, 1));
    EXPECT_EQ(DateRollingOver(2028, 2, 29), At(2028, 2, 29));
    EXPECT_EQ(DateRollingOver(2026, 4, 31), At(2026, 5, 1));
    EXPECT_EQ(DateRollingOver(2026, 12, 31), At(2026, 12, 31));
}

TEST(Format, WritesThePatternsOfTheLists) {
    DateTime value = At(2026, 3, 7, 9, 5, 42);
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"dd/mm/yyyy", "07/03/2026"},
        {"hh:nn", "09:05"},
        {"dd/MM/", "07/03/"},
        {"yyyy", "2026"},
        {"MM", "03"},
        {"dd", "07"},
        {"hh:mm", "09:05"},
        {"dd/mm/yyyy hh:nn:ss", "07/03/2026 09:05:42"},
    };
    for (auto [pattern, expected] : cases)
        EXPECT_EQ(FormatDateTime(value, pattern), expected) << pattern;
    EXPECT_EQ(FormatDateTime(At(812, 1, 2, 23, 59), "dd/mm/yyyy hh:nn"), "02/01/0812 23:59");
}

TEST(Format, TimeTextsReadBackAsMinutes) {
    for (int minutes : {0, 1, 59, 60, 545, 1439}) {
        DateTime value = At(2026, 12, 7) + std::chrono::minutes{minutes};
        EXPECT_EQ(MinutesOfTimeText(FormatDateTime(value, "hh:nn")), minutes);
    }
    for (std::string_view bad : {"", "9:05", "09-05", "24:00", "09:60", "0905 ", "ab:cd"})
        EXPECT_FALSE(MinutesOfTimeText(bad)) << bad;
}

TEST(Separators, AreTheFirstCharacterBetweenTheFieldsOfAFormat) {
    struct Case {
        std::string_view format;
        char fallback;
        char separator;
    };
    const Case cases[] = {
        {"%d.%m.%Y", '/', '.'},    // de_DE
        {"%d/%m/%Ey", '/', '/'},   // th_TH, Buddhist years
        {"%Y-%m-%d", '/', '-'},    // sv_SE
        {"%Y. %m. %d.", '/', '.'}, // hu_HU
        {"%m/%d/%y", '/', '/'},    // C
        {"%e.%-m.%Y", '/', '.'},   // flags and a blank-padded day
        {"%Od-%Om", '/', '-'},     // alternative digits
        {"%D", '.', '/'},
        {"%F", '/', '-'},
        {"%Y年%m月%d日", '/', '/'}, // not one ASCII character: the fixed one
        {"%x", '/', '/'},           // no separator to be had
        {"", '/', '/'},
        {"%", '/', '/'},
        {"%H:%M:%S", ':', ':'},
        {"%H.%M.%S", ':', '.'}, // fi_FI
        {"%T", '.', ':'},
        {"%r", '.', ':'},
        {"%Hh%M", ':', ':'}, // a letter is no separator
    };
    for (const Case& c : cases)
        EXPECT_EQ(SeparatorOfFormat(c.format, c.fallback), c.separator) << c.format;
}

// Compiles the named locales from the C library's definitions into `folder` (LOCPATH).
void MakeLocales(const testing::TempFolder& folder, std::initializer_list<const char*> names) {
    for (std::string_view name : names) {
        std::string source(name.substr(0, name.find('.')));
        std::string command = "localedef -i " + source + " -f UTF-8 '" + (folder / name).string() +
                              "' >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0)
            << command << " failed: the tests need localedef and the locale definitions of "
            << "the package locales (scripts/test installs it)";
    }
}

TEST(LocaleFormats, ComeFromTheUsersLocaleWhenWritingAndReadingBack) {
    testing::TempFolder locales;
    // Finnish: "." between the fields of both the date and the time.
    MakeLocales(locales, {"fi_FI.UTF-8"});
    ::setenv("LOCPATH", locales.Path().c_str(), 1);
    struct Case {
        const char* locale;
        std::string_view date, time, dayMonth;
        std::string_view generalDate, number; // as the Windows runtime writes a value as text
    };
    const Case cases[] = {
        {"fi_FI.UTF-8", "07.12.2026", "09.05", "07.12.", "07.12.2026 09.05.42", "-2,5"},
        {"C", "07/12/2026", "09:05", "07/12/", "12/07/26 09:05:42", "-2.5"},
    };
    const DateTime value = At(2026, 12, 7, 9, 5, 42);
    for (const Case& c : cases) {
        ASSERT_NE(std::setlocale(LC_TIME, c.locale), nullptr) << c.locale;
        EXPECT_EQ(FormatDateTime(value, "dd/mm/yyyy"), c.date) << c.locale;
        EXPECT_EQ(FormatDateTime(value, "hh:nn"), c.time) << c.locale;
        EXPECT_EQ(FormatDateTime(value, "dd/MM/"), c.dayMonth) << c.locale;
        EXPECT_EQ(FormatDateTime(value, "dd/mm/yyyy hh:nn"),
                  std::string(c.date) + " " + std::string(c.time))
            << c.locale;
        EXPECT_EQ(MinutesOfTimeText(c.time), 9 * 60 + 5) << c.locale;
        EXPECT_EQ(GeneralDateText(value), c.generalDate) << c.locale;
        ASSERT_NE(std::setlocale(LC_NUMERIC, c.locale), nullptr) << c.locale;
        EXPECT_EQ(GeneralNumberText(-2.5), c.number) << c.locale;
    }
    std::setlocale(LC_NUMERIC, "C");
    // A text written with another separator is not a time of this locale.
    ASSERT_NE(std::setlocale(LC_TIME, "fi_FI.UTF-8"), nullptr);
    EXPECT_FALSE(MinutesOfTimeText("09:05"));
    std::setlocale(LC_TIME, "C");
    ::unsetenv("LOCPATH");
}

} // namespace
} // namespace zurodid
