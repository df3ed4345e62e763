// The freedesktop.org Exec and string rules of desktop entries, case by case on the folder
// names a wine prefix can have. The launchers' own reading of the same entries is checked by
// test_desktop_entry.py.
#include "tools/desktop-entry/DesktopEntry.h"

#include <gtest/gtest.h>
#include <map>
#include <sstream>

namespace zurodid::desktop_entry {
namespace {

struct QuoteCase {
    const char* name;
    std::string argument;
    std::string quoted;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const QuoteCase& testCase, std::ostream* out) {
    *out << testCase.name;
}

class QuoteExecArgumentTest : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(QuoteExecArgumentTest, QuotesByTheDesktopEntryRules) {
    EXPECT_EQ(QuoteExecArgument(GetParam().argument), GetParam().quoted);
}

INSTANTIATE_TEST_SUITE_P(
    FolderNames, QuoteExecArgumentTest,
    ::testing::Values(QuoteCase{"Plain", "/home/u/.wine/Zurodid/zurodid-agent",
                                "/home/u/.wine/Zurodid/zurodid-agent"},
                      QuoteCase{"Empty", "", R"("")"},
                      QuoteCase{"Blank", "/d/Program Files/x", R"("/d/Program Files/x")"},
                      QuoteCase{"ThaiNeedsNoQuotes", "/d/ไดอารี่/x", "/d/ไดอารี่/x"},
                      QuoteCase{"ThaiAndBlank", "/d/ไดอารี่ Zurodid/x", R"("/d/ไดอารี่ Zurodid/x")"},
                      QuoteCase{"PercentDoubledUnquoted", "/d/100%/x", "/d/100%%/x"},
                      QuoteCase{"PercentDoubledInQuotes", "/d/a %f/x", R"("/d/a %%f/x")"},
                      QuoteCase{"DoubleQuote", R"(/d/say "hi"/x)", R"("/d/say \"hi\"/x")"},
                      QuoteCase{"Backtick", "/d/a`b/x", R"("/d/a\`b/x")"},
                      QuoteCase{"Dollar", "/d/$HOME/x", R"("/d/\$HOME/x")"},
                      QuoteCase{"Backslash", R"(/d/a\b/x)", R"("/d/a\\b/x")"},
                      QuoteCase{"SingleQuoteQuotedNotEscaped", "/d/it's/x", R"("/d/it's/x")"},
                      QuoteCase{"ShellCharactersQuotedNotEscaped", "/d/a;b&c|d<e>f*g?h#i(j)~k/x",
                                R"("/d/a;b&c|d<e>f*g?h#i(j)~k/x")"},
                      QuoteCase{"TabAndNewlineQuotedRaw", "/d/a\tb\nc/x", "\"/d/a\tb\nc/x\""},
                      QuoteCase{"EqualsAndBracketsAreNotReserved", "/d/a=b[c]/x", "/d/a=b[c]/x"}),
    [](const auto& testCase) { return testCase.param.name; });

TEST(ExecValue, FollowsTheDesktopEntryExamplesForBackslashAndDollar) {
    // "a literal backslash character in a quoted argument ... requires the use of four
    // successive backslash characters"; "a literal dollar sign ... is represented with \\$".
    EXPECT_EQ(ExecValue({"/d/a b\\c"}), R"("/d/a b\\\\c")");
    EXPECT_EQ(ExecValue({"/d/a b$c"}), R"("/d/a b\\$c")");
}

TEST(ExecValue, JoinsArgumentsWithBlanksAndEscapesControlCharacters) {
    EXPECT_EQ(ExecValue({"/usr/bin/env", "/d/50%/x"}), "/usr/bin/env /d/50%%/x");
    EXPECT_EQ(ExecValue({"/d/a\tb\nc\"/x", "-v"}), R"("/d/a\tb\nc\\"/x" -v)");
}

TEST(EscapeString, EscapesWhatTheKeyFileWouldReadOtherwise) {
    EXPECT_EQ(EscapeString(" lead and inner"), R"(\slead and inner)");
    EXPECT_EQ(EscapeString("a\\b\nc\td\re"), R"(a\\b\nc\td\re)");
    EXPECT_EQ(EscapeString("ไดอารี่ %\"`$"), "ไดอารี่ %\"`$");
}

std::map<std::string, std::string> Keys(const std::string& entry) {
    std::map<std::string, std::string> keys;
    std::istringstream lines(entry);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "[Desktop Entry]");
    while (std::getline(lines, line)) {
        auto equals = line.find('=');
        EXPECT_NE(equals, std::string::npos) << line;
        EXPECT_TRUE(keys.emplace(line.substr(0, equals), line.substr(equals + 1)).second)
            << "key given twice: " << line;
    }
    return keys;
}

TEST(AgentEntry, MenuAndAutostartStartTheAgentAtItsPath) {
    const std::string agent = "/h/.wine/drive_c/Program Files/ไดอารี่ Zurodid/zurodid-agent";
    auto menu = Keys(AgentEntry(EntryKind::Menu, agent));
    auto autostart = Keys(AgentEntry(EntryKind::Autostart, agent));

    EXPECT_EQ(menu.at("Exec"), "\"" + agent + "\"");
    EXPECT_EQ(menu.at("TryExec"), agent);
    EXPECT_EQ(menu.at("Icon"), "zurodid-agent");
    EXPECT_EQ(menu.at("Categories"), "Office;Calendar;");
    EXPECT_EQ(menu.at("Type"), "Application");
    EXPECT_EQ(menu.count("X-GNOME-Autostart-enabled"), 0U);

    EXPECT_EQ(autostart.at("X-GNOME-Autostart-enabled"), "true");
    autostart.erase("X-GNOME-Autostart-enabled");
    EXPECT_EQ(autostart, menu);
}

TEST(AgentEntry, APercentInThePathStartsTheAgentThroughEnv) {
    auto keys = Keys(AgentEntry(EntryKind::Autostart, "/h/100% sure/zurodid-agent"));
    EXPECT_EQ(keys.at("Exec"), R"(/usr/bin/env "/h/100%% sure/zurodid-agent")");
    // TryExec is a plain string: no field codes, no quoting.
    EXPECT_EQ(keys.at("TryExec"), "/h/100% sure/zurodid-agent");
}

TEST(AgentEntry, RefusesPathsNoEntryCanHold) {
    for (const std::string path :
         {"zurodid-agent", "relative/zurodid-agent", "", "/h/\xff\xfe/zurodid-agent",
          "/h/a\x01z/zurodid-agent", "/h/a\rz/zurodid-agent", "/h/a\x7fz/zurodid-agent"}) {
        EXPECT_THROW(AgentEntry(EntryKind::Menu, path), EntryError) << path;
        if (!path.empty()) {
            EXPECT_THROW(AgentEntry(EntryKind::Autostart, "/usr/bin/zurodid-agent", path),
                         EntryError)
                << path;
        }
    }
    EXPECT_THROW(AgentEntry(EntryKind::SetupMenu, "/usr/bin/zurodid-agent-setup", "/h"),
                 EntryError);
}

TEST(AgentEntry, APackagedAgentIsToldItsFolder) {
    const std::string folder = "/h/.wine/drive_c/Program Files/ไดอารี่ \"100%\"";
    auto autostart = Keys(AgentEntry(EntryKind::Autostart, "/usr/bin/zurodid-agent", folder));
    EXPECT_EQ(autostart.at("Exec"),
              R"(/usr/bin/zurodid-agent --folder "/h/.wine/drive_c/Program Files/ไดอารี่ )"
              R"(\\"100%%\\"")");
    EXPECT_EQ(autostart.at("TryExec"), "/usr/bin/zurodid-agent");
    EXPECT_EQ(autostart.at("X-Zurodid-Folder"), folder);

    auto setup = Keys(AgentEntry(EntryKind::SetupMenu, "/usr/bin/zurodid-agent-setup"));
    EXPECT_EQ(setup.at("Exec"), "/usr/bin/zurodid-agent-setup");
    EXPECT_EQ(setup.count("X-Zurodid-Folder") + setup.count("X-GNOME-Autostart-enabled"), 0U);
}

} // namespace
} // namespace zurodid::desktop_entry
