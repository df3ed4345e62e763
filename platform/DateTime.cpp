#include "platform/DateTime.h"

#include "platform/CodePage.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <langinfo.h>

namespace zurodid {
namespace {

using namespace std::chrono;

constexpr local_days kOleEpoch = local_days{year{1899} / December / 30};
// Beyond 1 January 100 .. 31 December 9999, the range of OLE Automation dates.
constexpr double kOleBelowFirst = -657435.0;
constexpr double kOleAfterLast = 2958466.0;

} // namespace

std::optional<DateTime> DateTimeFromOleDate(double oleDate) {
    if (!std::isfinite(oleDate) || oleDate <= kOleBelowFirst || oleDate >= kOleAfterLast)
        return std::nullopt;
    double wholeDays = std::trunc(oleDate);
    // The fraction is the time of day whatever the sign of the days.
    auto secondsOfDay = std::llround(std::fabs(oleDate - wholeDays) * 86400.0);
    DateTime result = kOleEpoch + days{static_cast<long long>(wholeDays)} + seconds{secondsOfDay};
    auto yearNumber = static_cast<int>(DateOf(result).year());
    if (yearNumber < 100 || yearNumber > 9999)
        return std::nullopt;
    return result;
}

double OleDateFromDateTime(DateTime value) {
    auto day = floor<days>(value);
    double dayNumber = static_cast<double>((day - kOleEpoch).count());
    double fraction = static_cast<double>((value - day).count()) / 86400.0;
    return dayNumber >= 0 ? dayNumber + fraction : dayNumber - fraction;
}

year_month_day DateOf(DateTime value) {
    return year_month_day{floor<days>(value)};
}

seconds TimeOfDay(DateTime value) {
    return value - floor<days>(value);
}

DateTime MakeDateTime(year_month_day date, seconds timeOfDay) {
    return local_days{date} + timeOfDay;
}

long long DaysBetween(DateTime from, DateTime to) {
    return (floor<days>(to) - floor<days>(from)).count();
}

DateTime AddDays(DateTime value, long long count) {
    return value + days{count};
}

DateTime DateRollingOver(int yearNumber, unsigned month, unsigned day) {
    return local_days{year{yearNumber} / std::chrono::month{month} / 1} + days{day} - days{1};
}

char SeparatorOfFormat(std::string_view format, char fallback) {
    for (std::size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        if (c != '%') {
            auto byte = static_cast<unsigned char>(c);
            bool oneAsciiCharacter = byte < 0x80 && (std::ispunct(byte) || byte == ' ');
            return oneAsciiCharacter ? c : fallback;
        }
        // A conversion: flags, width and the E or O modifier, then its letter.
        ++i;
        while (i < format.size() &&
               (std::string_view("_-0^#EO").find(format[i]) != std::string_view::npos ||
                (format[i] >= '0' && format[i] <= '9')))
            ++i;
        if (i == format.size())
            break;
        switch (format[i]) {
        case 'D': // %m/%d/%y
            return '/';
        case 'F': // %Y-%m-%d
            return '-';
        case 'T': // %H:%M:%S
        case 'R': // %H:%M
        case 'r': // %I:%M:%S %p
            return ':';
        case '%':
            return fallback;
        default:
            break;
        }
    }
    return fallback;
}

char DateSeparator() {
    return SeparatorOfFormat(nl_langinfo(D_FMT), '/');
}

char TimeSeparator() {
    return SeparatorOfFormat(nl_langinfo(T_FMT), ':');
}

namespace {

void PutTwo(char* at, unsigned number) {
    at[0] = static_cast<char>('0' + number / 10 % 10);
    at[1] = static_cast<char>('0' + number % 10);
}

} // namespace

std::string FormatDateTime(DateTime value, std::string_view pattern) {
    // The two texts of every list row, written straight: a fill makes one of each per row.
    if (pattern == "hh:nn") {
        auto minutesOfDay = duration_cast<minutes>(TimeOfDay(value)).count();
        char text[5] = {0, 0, TimeSeparator(), 0, 0};
        PutTwo(text, static_cast<unsigned>(minutesOfDay / 60));
        PutTwo(text + 3, static_cast<unsigned>(minutesOfDay % 60));
        return std::string(text, sizeof text);
    }
    auto date = DateOf(value);
    if (pattern == "dd/mm/yyyy") {
        auto y = static_cast<unsigned>(static_cast<int>(date.year()));
        const char separator = DateSeparator();
        char text[10] = {0, 0, separator, 0, 0, separator, 0, 0, 0, 0};
        PutTwo(text, static_cast<unsigned>(date.day()));
        PutTwo(text + 3, static_cast<unsigned>(date.month()));
        PutTwo(text + 6, y / 100);
        PutTwo(text + 8, y % 100);
        return std::string(text, sizeof text);
    }
    hh_mm_ss<seconds> time{TimeOfDay(value)};
    // Every token writes at most as many characters as it has ("yyyy" four, the others two),
    // so the pattern's length bounds the text: build it in place, allocate once.
    std::string out(pattern.size(), '\0');
    const char dateSeparator = DateSeparator();
    const char timeSeparator = TimeSeparator();
    std::size_t n = 0;
    auto two = [&](unsigned number) {
        out[n++] = static_cast<char>('0' + number / 10 % 10);
        out[n++] = static_cast<char>('0' + number % 10);
    };
    bool afterHour = false; // "mm" right after an hour is minutes, otherwise the month
    for (std::size_t i = 0; i < pattern.size();) {
        auto rest = pattern.substr(i);
        if (rest.starts_with("yyyy")) {
            auto y = static_cast<unsigned>(static_cast<int>(date.year()));
            two(y / 100);
            two(y % 100);
            i += 4;
            afterHour = false;
        } else if (rest.starts_with("dd")) {
            two(static_cast<unsigned>(date.day()));
            i += 2;
            afterHour = false;
        } else if (rest.starts_with("MM") || (rest.starts_with("mm") && !afterHour)) {
            two(static_cast<unsigned>(date.month()));
            i += 2;
        } else if (rest.starts_with("hh")) {
            two(static_cast<unsigned>(time.hours().count()));
            i += 2;
            afterHour = true;
        } else if (rest.starts_with("nn") || rest.starts_with("mm")) {
            two(static_cast<unsigned>(time.minutes().count()));
            i += 2;
            afterHour = false;
        } else if (rest.starts_with("ss")) {
            two(static_cast<unsigned>(time.seconds().count()));
            i += 2;
        } else {
            char c = pattern[i++];
            out[n++] = c == '/' ? dateSeparator : c == ':' ? timeSeparator : c;
        }
    }
    out.resize(n);
    return out;
}

namespace {

// strftime with a format of the C library's locale, the result in UTF-8.
std::string LocaleFormatted(const char* format, DateTime value) {
    const auto day = floor<days>(value);
    const year_month_day date{day};
    const hh_mm_ss<seconds> time{value - day};
    std::tm fields{};
    fields.tm_year = static_cast<int>(date.year()) - 1900;
    fields.tm_mon = static_cast<int>(static_cast<unsigned>(date.month())) - 1;
    fields.tm_mday = static_cast<int>(static_cast<unsigned>(date.day()));
    fields.tm_hour = static_cast<int>(time.hours().count());
    fields.tm_min = static_cast<int>(time.minutes().count());
    fields.tm_sec = static_cast<int>(time.seconds().count());
    fields.tm_wday = static_cast<int>(weekday{day}.c_encoding());
    fields.tm_yday = static_cast<int>((day - local_days{date.year() / January / 1}).count());
    char buffer[256];
    std::size_t size = std::strftime(buffer, sizeof buffer, format, &fields);
    std::string text(buffer, size);
    std::string_view codeset = nl_langinfo(CODESET);
    if (codeset != "UTF-8")
        if (auto utf8 = ConvertCharset(text, codeset.data(), "UTF-8"))
            return *utf8;
    return text;
}

} // namespace

std::string GeneralDateText(DateTime value) {
    const bool hasDate = floor<days>(value) != kOleEpoch;
    const bool hasTime = TimeOfDay(value) != seconds{0};
    std::string text;
    if (hasDate)
        text = LocaleFormatted(nl_langinfo(D_FMT), value);
    if (hasTime || !hasDate) {
        if (!text.empty())
            text += ' ';
        text += LocaleFormatted(nl_langinfo(T_FMT), value);
    }
    return text;
}

std::optional<int> MinutesOfTimeText(std::string_view text) {
    auto digit = [&](std::size_t i) { return text[i] >= '0' && text[i] <= '9'; };
    if (text.size() != 5 || text[2] != TimeSeparator() || !digit(0) || !digit(1) || !digit(3) ||
        !digit(4))
        return std::nullopt;
    int hours = (text[0] - '0') * 10 + (text[1] - '0');
    int minutes = (text[3] - '0') * 10 + (text[4] - '0');
    if (hours > 23 || minutes > 59)
        return std::nullopt;
    return hours * 60 + minutes;
}

std::optional<std::chrono::local_days> DayOfDateText(std::string_view text) {
    auto number = [&](std::size_t from, std::size_t count) -> std::optional<unsigned> {
        unsigned value = 0;
        for (std::size_t i = from; i < from + count; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return std::nullopt;
            value = value * 10 + static_cast<unsigned>(text[i] - '0');
        }
        return value;
    };
    if (text.size() != 10 || text[2] != DateSeparator() || text[5] != DateSeparator())
        return std::nullopt;
    auto d = number(0, 2), m = number(3, 2), y = number(6, 4);
    if (!d || !m || !y)
        return std::nullopt;
    std::chrono::year_month_day date{std::chrono::year{static_cast<int>(*y)},
                                     std::chrono::month{*m}, std::chrono::day{*d}};
    if (!date.ok())
        return std::nullopt;
    return std::chrono::local_days{date};
}

DateTime LocalNow() {
    // Readings come in bursts (a tick, a fill, a rebuild): convert to local time once a second.
    thread_local std::time_t lastSecond = -1;
    thread_local DateTime lastLocal{};
    std::time_t now = std::time(nullptr);
    if (now == lastSecond)
        return lastLocal;
    // A time zone changed while the agent runs is taken up at once (glibc looks at the zone
    // file again only when asked).
    tzset();
    std::tm local{};
    localtime_r(&now, &local);
    using namespace std::chrono;
    lastLocal = local_days{year{local.tm_year + 1900} / (local.tm_mon + 1) / local.tm_mday} +
                hours{local.tm_hour} + minutes{local.tm_min} + seconds{local.tm_sec};
    lastSecond = now;
    return lastLocal;
}

} // namespace zurodid
