#include "platform/Log.h"

#include <cstdio>
#include <utility>

namespace zurodid {
namespace {

LogSink& Sink() {
    static LogSink sink;
    return sink;
}

// A line break or other control character inside a part would split or garble the record.
void AppendOnOneLine(std::string& line, std::string_view part) {
    for (char c : part)
        line += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c;
}

} // namespace

std::string FailureLine(std::string_view what, int errorNumber, std::string_view errorText,
                        const std::filesystem::path& file) {
    std::string line = "zurodid-agent: ";
    AppendOnOneLine(line, what);
    line += ": error " + std::to_string(errorNumber);
    if (!errorText.empty()) {
        line += ": ";
        AppendOnOneLine(line, errorText);
    }
    if (!file.empty()) {
        line += ": ";
        AppendOnOneLine(line, file.string());
    }
    return line;
}

namespace {

void WriteLine(std::string line) {
    if (const LogSink& sink = Sink()) {
        sink(line);
        return;
    }
    line += '\n';
    // One write for the whole line, so that lines of two processes do not interleave.
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

} // namespace

void LogFailure(std::string_view what, int errorNumber, std::string_view errorText,
                const std::filesystem::path& file) {
    WriteLine(FailureLine(what, errorNumber, errorText, file));
}

void LogRecovery(std::string_view what, const std::filesystem::path& file) {
    std::string line = "zurodid-agent: ";
    AppendOnOneLine(line, what);
    if (!file.empty()) {
        line += ": ";
        AppendOnOneLine(line, file.string());
    }
    WriteLine(std::move(line));
}

void SetLogSink(LogSink sink) {
    Sink() = std::move(sink);
}

} // namespace zurodid
