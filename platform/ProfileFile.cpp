#include "platform/ProfileFile.h"

#include "platform/Files.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace zurodid {
namespace {

struct Line {
    std::string_view content; // without its line end
    std::string_view end;     // "\r\n", "\n", "\r" or "" for the last line
};

std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t stop = text.find_first_of("\r\n", start);
        if (stop == std::string_view::npos) {
            lines.push_back({text.substr(start), {}});
            break;
        }
        std::size_t endLength = text.compare(stop, 2, "\r\n") == 0 ? 2 : 1;
        lines.push_back({text.substr(start, stop - start), text.substr(stop, endLength)});
        start = stop + endLength;
    }
    return lines;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    return true;
}

// "[name]" gives name; a line without the closing bracket is no section header.
std::optional<std::string_view> SectionName(std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    std::size_t close = line.rfind(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    return Trim(line.substr(1, close - 1));
}

struct KeyLine {
    std::string_view key;
    std::string_view value;
};

// A key line is "key=value"; a line without "=" is a key without value; ";" starts a comment.
std::optional<KeyLine> ParseKeyLine(std::string_view line) {
    std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == ';')
        return std::nullopt;
    std::size_t equals = trimmed.find('=');
    if (equals == std::string_view::npos)
        return KeyLine{trimmed, {}};
    return KeyLine{Trim(trimmed.substr(0, equals)), Trim(trimmed.substr(equals + 1))};
}

struct SectionSpan {
    std::size_t header; // index of the header line
    std::size_t end;    // one past its last line
};

std::optional<SectionSpan> FindSection(const std::vector<Line>& lines, std::string_view section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        auto name = SectionName(lines[i].content);
        if (!name || !SameName(*name, section))
            continue;
        std::size_t end = i + 1;
        while (end < lines.size() && !SectionName(lines[end].content))
            ++end;
        return SectionSpan{i, end};
    }
    return std::nullopt;
}

std::optional<std::size_t> FindKey(const std::vector<Line>& lines, SectionSpan span,
                                   std::string_view key) {
    for (std::size_t i = span.header + 1; i < span.end; ++i) {
        auto parsed = ParseKeyLine(lines[i].content);
        if (parsed && SameName(parsed->key, key))
            return i;
    }
    return std::nullopt;
}

std::string_view Unquoted(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

} // namespace

std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key) {
    // Line by line without a list of lines: every Refresh reads the file, and a file of a
    // million empty lines must cost milliseconds.
    bool inSection = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t stop = text.find_first_of("\r\n", start);
        if (stop == std::string_view::npos)
            stop = text.size();
        const std::string_view line = text.substr(start, stop - start);
        start = stop + 1;
        if (line.empty())
            continue;
        if (auto name = SectionName(line)) {
            if (inSection)
                return std::nullopt; // the first section of that name is the one
            inSection = SameName(*name, section);
        } else if (inSection) {
            auto parsed = ParseKeyLine(line);
            if (parsed && SameName(parsed->key, key))
                return std::string(Unquoted(parsed->value));
        }
    }
    return std::nullopt;
}

ProfileRead ReadPrivateProfileString(std::string_view section, std::string_view key,
                                     std::string_view fallback, std::size_t size,
                                     const std::filesystem::path& file) {
    ProfileRead read;
    std::string result;
    try {
        BoundedRead bytes = ReadRegularFile(file, kMaxProfileBytes);
        read.error = bytes.error;
        read.reason = std::move(bytes.reason);
        read.cut = bytes.cut;
        std::optional<std::string> value = FindProfileValue(bytes.bytes, section, key);
        result = value ? *value : std::string(fallback);
    } catch (const std::exception& error) { // no memory to look through the file
        read.error = ENOMEM;
        read.reason = error.what();
        result = std::string(fallback);
    }
    if (size == 0)
        result.clear();
    else if (result.size() > size - 1)
        result.resize(size - 1);
    read.value = std::move(result);
    return read;
}

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view fallback, std::size_t size,
                                    const std::filesystem::path& file) {
    return ReadPrivateProfileString(section, key, fallback, size, file).value;
}

std::string EditProfileText(std::string_view text, std::string_view section, std::string_view key,
                            std::string_view value) {
    auto lines = SplitLines(text);
    std::string_view newline = "\r\n";
    for (const Line& line : lines)
        if (!line.end.empty()) {
            newline = line.end;
            break;
        }
    // A line break inside the value would cut the file's structure.
    std::string safeValue(value);
    for (char& c : safeValue)
        if (c == '\r' || c == '\n')
            c = ' ';

    std::string out;
    out.reserve(text.size() + key.size() + safeValue.size() + 16);
    auto append = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            out += lines[i].content;
            out += lines[i].end;
        }
    };
    auto keyLine = [&](std::string_view name) { return std::string(name) + "=" + safeValue; };

    auto span = FindSection(lines, section);
    if (!span) {
        out.assign(text);
        if (!out.empty() && out.back() != '\n' && out.back() != '\r')
            out += newline;
        out += '[';
        out += section;
        out += ']';
        out += newline;
        out += keyLine(key);
        out += newline;
        return out;
    }
    if (auto index = FindKey(lines, *span, key)) {
        append(0, *index);
        out += keyLine(ParseKeyLine(lines[*index].content)->key);
        out += lines[*index].end.empty() ? std::string_view{} : lines[*index].end;
        append(*index + 1, lines.size());
        return out;
    }
    // A new key goes after the section's last non-blank line.
    std::size_t insertAt = span->end;
    while (insertAt > span->header + 1 && Trim(lines[insertAt - 1].content).empty())
        --insertAt;
    append(0, insertAt);
    if (lines[insertAt - 1].end.empty())
        out += newline;
    out += keyLine(key);
    out += newline;
    append(insertAt, lines.size());
    return out;
}

WriteOutcome WritePrivateProfileString(std::string_view section, std::string_view key,
                                       std::string_view value, const std::filesystem::path& file) {
    try {
        BoundedRead read = ReadRegularFile(file, kMaxProfileBytes);
        // A file that is there but cannot be read whole is not replaced by one made from
        // what could be read.
        if (read.error != 0)
            return {false, "Cannot read " + file.string() + ": " + read.reason, read.error};
        if (read.cut)
            return {false,
                    "Cannot rewrite " + file.string() + ": it is larger than " +
                        std::to_string(kMaxProfileBytes / 1024) +
                        " KiB, more than a settings file holds; it is left as it is.",
                    EFBIG};
        return ReplaceFileAtomically(file, EditProfileText(read.bytes, section, key, value));
    } catch (const std::exception& error) { // no memory for the new text
        return {false, "Cannot write " + file.string() + ": " + error.what(), ENOMEM};
    }
}

} // namespace zurodid
