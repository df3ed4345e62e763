#include "tools/make-diary/DiaryDescription.h"

#include <charconv>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zurodid::fixture {
namespace {

using namespace std::chrono;

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

struct Token {
    std::string text;
    bool quoted = false;
};

// Splits on "|" outside double quotes; "" inside quotes is one quote.
std::vector<Token> SplitValues(std::string_view line) {
    std::vector<Token> tokens;
    Token current;
    std::string raw;
    bool inQuotes = false;
    auto finish = [&] {
        if (!current.quoted) {
            current.text = std::string(Trim(raw));
        }
        tokens.push_back(current);
        current = {};
        raw.clear();
    };
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (inQuotes) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                current.text += '"';
                ++i;
            } else if (c == '"') {
                inQuotes = false;
            } else {
                current.text += c;
            }
        } else if (c == '"' && Trim(raw).empty()) {
            inQuotes = true;
            current.quoted = true;
        } else if (c == '|') {
            finish();
        } else if (!current.quoted) {
            raw += c;
        }
    }
    if (inQuotes) {
        throw std::runtime_error("a quote is not closed");
    }
    finish();
    return tokens;
}

template <typename T> std::optional<T> NumberOf(std::string_view text) {
    T value{};
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// "HH:MM" or "HH:MM:SS".
seconds TimeOf(std::string_view text) {
    const auto hour = NumberOf<int>(text.substr(0, text.find(':')));
    if (!hour || text.size() < 5 || text[2] != ':' || *hour > 23 || *hour < 0) {
        throw std::runtime_error("'" + std::string(text) + "' is not a time HH:MM[:SS]");
    }
    const auto minutes = NumberOf<int>(text.substr(3, 2));
    std::optional<int> secs = 0;
    if (text.size() == 8 && text[5] == ':') {
        secs = NumberOf<int>(text.substr(6, 2));
    } else if (text.size() != 5) {
        secs.reset();
    }
    if (!minutes || !secs || *minutes > 59 || *minutes < 0 || *secs > 59 || *secs < 0) {
        throw std::runtime_error("'" + std::string(text) + "' is not a time HH:MM[:SS]");
    }
    return hours(*hour) + std::chrono::minutes(*minutes) + seconds(*secs);
}

DateTime DateTimeOf(std::string_view text, DateTime now) {
    const auto bad = [&] {
        return std::runtime_error("'" + std::string(text) + "' is not a date");
    };
    const local_days today = floor<days>(now);
    const auto space = text.find(' ');
    const std::string_view datePart = text.substr(0, space);
    const std::string_view timePart =
        space == std::string_view::npos ? "" : Trim(text.substr(space));
    if (datePart.starts_with("now")) {
        if (!timePart.empty()) {
            throw bad();
        }
        if (datePart.size() == 3) {
            return now;
        }
        const char unit = datePart.back();
        const auto count = NumberOf<long long>(datePart.substr(3, datePart.size() - 4));
        if (!count || (datePart[3] != '+' && datePart[3] != '-')) {
            throw bad();
        }
        switch (unit) {
        case 's':
            return now + seconds(*count);
        case 'm':
            return now + minutes(*count);
        case 'h':
            return now + hours(*count);
        case 'd':
            return now + days(*count);
        default:
            throw bad();
        }
    }
    const seconds time = timePart.empty() ? seconds(0) : TimeOf(timePart);
    if ((datePart.starts_with('+') || datePart.starts_with('-')) && datePart.ends_with('d')) {
        const auto count = NumberOf<long long>(datePart.substr(0, datePart.size() - 1));
        if (!count) {
            throw bad();
        }
        return DateTime(today + days(*count)) + time;
    }
    // YYYY-MM-DD
    if (datePart.size() != 10 || datePart[4] != '-' || datePart[7] != '-') {
        throw bad();
    }
    const auto y = NumberOf<int>(datePart.substr(0, 4));
    const auto m = NumberOf<unsigned>(datePart.substr(5, 2));
    const auto d = NumberOf<unsigned>(datePart.substr(8, 2));
    if (!y || !m || !d) {
        throw bad();
    }
    const year_month_day date{year(*y), month(*m), day(*d)};
    if (!date.ok()) {
        throw bad();
    }
    return DateTime(local_days(date)) + time;
}

Variant ValueOf(const Token& token, ColumnType type, DateTime now) {
    if (!token.quoted && token.text == "null") {
        return Null{};
    }
    switch (type) {
    case ColumnType::Text:
    case ColumnType::Memo:
        return token.text;
    case ColumnType::DateTime:
        return DateTimeOf(token.text, now);
    case ColumnType::Long:
    case ColumnType::Double:
        if (auto number = NumberOf<double>(token.text)) {
            return *number;
        }
        throw std::runtime_error("'" + token.text + "' is not a number");
    }
    throw std::runtime_error("unknown column type");
}

ColumnType TypeNamed(std::string_view name) {
    if (name == "datetime") {
        return ColumnType::DateTime;
    }
    if (name == "text") {
        return ColumnType::Text;
    }
    if (name == "memo") {
        return ColumnType::Memo;
    }
    if (name == "long") {
        return ColumnType::Long;
    }
    if (name == "double") {
        return ColumnType::Double;
    }
    throw std::runtime_error("unknown column type '" + std::string(name) +
                             "' (datetime, text, memo, long, double)");
}

std::vector<Column> UsualColumns(const std::string& table) {
    for (const auto& usual : StandardDiary().tables) {
        if (usual.name == table) {
            return usual.columns;
        }
    }
    return {{"Date", ColumnType::DateTime}, {"Text", ColumnType::Text}};
}

std::string Substitute(std::string text, const std::string& number) {
    for (auto at = text.find("{n}"); at != std::string::npos; at = text.find("{n}", at)) {
        text.replace(at, 3, number);
        at += number.size();
    }
    return text;
}

class Parser {
public:
    explicit Parser(DateTime now) : now_(now) {}

    void Line(std::string_view line) {
        line = Trim(line);
        if (line.empty() || line.front() == '#') {
            return;
        }
        const auto space = line.find_first_of(" \t");
        const std::string_view keyword = line.substr(0, space);
        const std::string_view rest =
            space == std::string_view::npos ? "" : Trim(line.substr(space));
        if (keyword == "password") {
            diary_.password = std::string(rest);
        } else if (keyword == "table") {
            if (rest.empty()) {
                throw std::runtime_error("a table needs a name");
            }
            diary_.tables.push_back({std::string(rest), {}, {}});
        } else if (keyword == "column") {
            Table& table = Current();
            if (!table.rows.empty()) {
                throw std::runtime_error("columns come before the rows");
            }
            const auto nameEnd = rest.find_last_of(" \t");
            if (nameEnd == std::string_view::npos) {
                throw std::runtime_error("a column needs a name and a type");
            }
            table.columns.push_back(
                {std::string(Trim(rest.substr(0, nameEnd))), TypeNamed(rest.substr(nameEnd + 1))});
        } else if (keyword == "row") {
            AddRow(std::string(rest));
        } else if (keyword == "repeat") {
            const auto countEnd = rest.find_first_of(" \t");
            const auto count = NumberOf<long>(rest.substr(0, countEnd));
            if (!count || *count < 0 || countEnd == std::string_view::npos) {
                throw std::runtime_error("repeat needs a count and the values of a row");
            }
            const std::string values(Trim(rest.substr(countEnd)));
            for (long n = 1; n <= *count; ++n) {
                AddRow(Substitute(values, std::to_string(n)));
            }
        } else {
            throw std::runtime_error("unknown keyword '" + std::string(keyword) + "'");
        }
    }

    Diary Take() { return std::move(diary_); }

private:
    Table& Current() {
        if (diary_.tables.empty()) {
            throw std::runtime_error("a table line must come first");
        }
        return diary_.tables.back();
    }

    void AddRow(const std::string& values) {
        Table& table = Current();
        if (table.columns.empty()) {
            table.columns = UsualColumns(table.name);
        }
        const auto tokens = SplitValues(values);
        if (tokens.size() != table.columns.size()) {
            throw std::runtime_error(std::to_string(tokens.size()) + " values for " +
                                     std::to_string(table.columns.size()) + " columns");
        }
        std::vector<Variant> row;
        for (std::size_t i = 0; i < tokens.size(); ++i) {
            row.push_back(ValueOf(tokens[i], table.columns[i].type, now_));
        }
        table.rows.push_back(std::move(row));
    }

    DateTime now_;
    Diary diary_;
};

} // namespace

Diary ParseDiaryDescription(std::string_view text, DateTime now) {
    Parser parser(now);
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const auto end = text.find('\n');
        const auto line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        try {
            parser.Line(line);
        } catch (const std::runtime_error& error) {
            throw std::runtime_error("line " + std::to_string(lineNumber) + ": " + error.what());
        }
    }
    Diary diary = parser.Take();
    for (auto& table : diary.tables) {
        if (table.columns.empty()) {
            table.columns = UsualColumns(table.name);
        }
    }
    return diary;
}

} // namespace zurodid::fixture
