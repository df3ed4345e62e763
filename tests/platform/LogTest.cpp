#include "platform/Log.h"

#include <gtest/gtest.h>

namespace zurodid {
namespace {

TEST(Log, OneLineSaysWhatTheErrorAndTheFile) {
    struct Case {
        std::string_view what;
        int number;
        std::string_view text;
        const char* file;
        std::string_view line;
    };
    const Case cases[] = {
        {"opening the diary, start-up stopped", 3024, "Could not find file.",
         "/home/u/ไดอารี่/Zurodid.mdb",
         "zurodid-agent: opening the diary, start-up stopped: error 3024: Could not find file.: "
         "/home/u/ไดอารี่/Zurodid.mdb"},
        {"registering the tray icon", 5, "", "",
         "zurodid-agent: registering the tray icon: error 5"},
        // Line breaks and other control characters, even in a file name, stay on the line.
        {"saving\nthe settings", 28, "No space\r\nleft", "/a\nb/Zurodid.ini",
         "zurodid-agent: saving the settings: error 28: No space  left: /a b/Zurodid.ini"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> lines;
        SetLogSink([&](std::string_view line) { lines.emplace_back(line); });
        LogFailure(c.what, c.number, c.text, c.file);
        SetLogSink({});
        ASSERT_EQ(lines.size(), 1u) << c.what;
        EXPECT_EQ(lines[0], c.line);
    }
}

TEST(Log, GoesToStandardErrorWithoutASink) {
    ::testing::internal::CaptureStderr();
    LogFailure("starting the main program", 53, "the file does not exist", "/x/Zurodid.exe");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "zurodid-agent: starting the main program: error 53: the file does not exist: "
              "/x/Zurodid.exe\n");
}

} // namespace
} // namespace zurodid
