#include "platform/CommandLine.h"

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <optional>

namespace zurodid {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

TEST(CommandLine, FolderIsResolvedAndTheRestLeftForTheToolkit) {
    TempFolder temp;
    const fs::path thai = temp / "ไดอารี่ Zurodid";
    fs::create_directory(thai);
    fs::create_directory_symlink(thai, temp / "link");
    testing::WriteBytes(temp / "file", "x");
    const fs::path real = fs::canonical(thai);

    struct Case {
        std::vector<std::string> arguments;
        std::optional<fs::path> folder; // nullopt: an OptionError naming `error`
        std::vector<std::string> remaining;
        std::string error;
    };
    const std::string agent = "zurodid-agent";
    const Case cases[] = {
        {{agent}, fs::path(), {agent}, ""},
        {{agent, "--folder", thai.string()}, real, {agent}, ""},
        {{agent, "--folder=" + thai.string()}, real, {agent}, ""},
        // A link and a relative name name the same folder, so one agent runs for it.
        {{agent, "--folder", (temp / "link").string()}, real, {agent}, ""},
        {{agent, "--folder", (temp / "link" / ".." / "ไดอารี่ Zurodid" / "").string()},
         real,
         {agent},
         ""},
        // The toolkit's own options pass, in order, also around ours; a value like an option
        // is the folder's and does not reach the toolkit.
        {{agent, "-platform", "offscreen", "--folder", thai.string(), "-reverse"},
         real,
         {agent, "-platform", "offscreen", "-reverse"},
         ""},
        {{agent, "--folder"}, std::nullopt, {}, "--folder needs a folder"},
        {{agent, "--folder="}, std::nullopt, {}, "--folder needs a folder"},
        {{agent, "--folder", thai.string(), "--folder", thai.string()},
         std::nullopt,
         {},
         "more than once"},
        {{agent, "--folder", (temp / "gone").string()}, std::nullopt, {}, "gone"},
        {{agent, "--folder", (temp / "file").string()}, std::nullopt, {}, "not a folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        if (c.folder) {
            AgentOptions options = ParseAgentOptions(c.arguments);
            EXPECT_EQ(options.folder, *c.folder);
            EXPECT_EQ(options.remaining, c.remaining);
        } else {
            try {
                ParseAgentOptions(c.arguments);
                ADD_FAILURE() << "no OptionError";
            } catch (const OptionError& error) {
                EXPECT_NE(std::string(error.what()).find(c.error), std::string::npos)
                    << error.what();
            }
        }
    }
}

TEST(CommandLine, RelativeFolderIsTakenFromTheWorkingFolder) {
    TempFolder temp;
    fs::create_directory(temp / "diary");
    const fs::path before = fs::current_path();
    fs::current_path(temp.Path());
    AgentOptions options = ParseAgentOptions({"zurodid-agent", "--folder", "diary"});
    fs::current_path(before);
    EXPECT_EQ(options.folder, fs::canonical(temp / "diary"));
}

} // namespace
} // namespace zurodid
