#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace zurodid {

// A wall-clock date and time of day, to the second, with no time zone: what the diary stores
// and what the clock on the desk shows.
using DateTime = std::chrono::local_seconds;

// The user's date and time separators, written into date and time texts and read back from
// them: taken from the C library's locale (LC_TIME: the short date and the time format), which
// a Qt program sets from the environment at start. "/" and ":" where the format has none that
// is one ASCII character (the texts keep their fixed width).
char DateSeparator();
char TimeSeparator();

// The separator of a strftime format: the first character between its fields, or `fallback`.
char SeparatorOfFormat(std::string_view format, char fallback);

// An OLE Automation date (days since 30 December 1899, the fraction being the time of day,
// taken as positive even for negative days) to the nearest second. Empty for NaN, infinities
// and values beyond the years 100..9999.
std::optional<DateTime> DateTimeFromOleDate(double oleDate);
double OleDateFromDateTime(DateTime value);

std::chrono::year_month_day DateOf(DateTime value);
std::chrono::seconds TimeOfDay(DateTime value);
DateTime MakeDateTime(std::chrono::year_month_day date, std::chrono::seconds timeOfDay = {});

// Calendar-day boundaries from `from` to `to` (to's date minus from's date); times play no part.
long long DaysBetween(DateTime from, DateTime to);
DateTime AddDays(DateTime value, long long days);

// Year, month and day, a day beyond the end of the month rolling over into the next month
// (29 February of a common year gives 1 March).
DateTime DateRollingOver(int year, unsigned month, unsigned day);

// Formats with the patterns the lists use: "dd/mm/yyyy", "hh:nn", "dd/MM/", "yyyy", "MM",
// "dd"; "/" and ":" stand for the date and time separators. Tokens: dd, MM or mm after a date
// token, yyyy, hh, nn.
std::string FormatDateTime(DateTime value, std::string_view pattern);

// A date/time as the Windows runtime turns it into text: the date in the user's short date
// format, then the time in the user's time format when it has one (a time of day alone, on
// the zero date 30 December 1899, is written alone). UTF-8.
std::string GeneralDateText(DateTime value);

// Reads back a time text written with "hh:nn": minutes since midnight, empty when it is not one.
std::optional<int> MinutesOfTimeText(std::string_view text);
// Reads back a date text written with "dd/mm/yyyy"; empty when it is not one.
std::optional<std::chrono::local_days> DayOfDateText(std::string_view text);

} // namespace zurodid

namespace zurodid {
// The wall clock of this machine, in its local time zone, to the second.
DateTime LocalNow();
} // namespace zurodid
