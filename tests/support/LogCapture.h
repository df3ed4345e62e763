#pragma once

#include "platform/Log.h"

#include <string>
#include <string_view>
#include <vector>

namespace zurodid::testing {

// Collects the failure lines instead of standard error while it lives.
class LogCapture {
public:
    LogCapture() {
        SetLogSink([this](std::string_view line) { lines.emplace_back(line); });
    }
    ~LogCapture() { SetLogSink({}); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines;
};

} // namespace zurodid::testing
