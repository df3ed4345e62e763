#include "platform/ProfileFile.h"

#include "support/TempFolder.h"

#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zurodid {
namespace {

using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;

std::optional<std::string> Find(std::string_view text, std::string_view key,
                                std::string_view section = "Agent") {
    return FindProfileValue(text, section, key);
}

TEST(ProfileRead, FindsKeysByTheWindowsRules) {
    const std::string text = "; settings\r\n"
                             "[Other]\r\n"
                             "Remind=9\r\n"
                             "  [ agent ]  \r\n"
                             "  startupremind  =  1  \r\n"
                             "Quoted=\"  a b  \"\r\n"
                             "Single='x'\r\n"
                             "Mismatched=\"x'\r\n"
                             "Lone=\"\r\n"
                             "Empty=\r\n"
                             "NoEquals\r\n"
                             "Twice=first\r\n"
                             "TWICE=second\r\n"
                             "Eq=a=b\r\n"
                             "[Agent]\r\n"
                             "Late=ignored\r\n";
    struct Case {
        std::string_view key;
        std::optional<std::string> value;
    };
    const Case cases[] = {
        {"StartUpRemind", "1"},
        {"STARTUPREMIND", "1"},
        {"Quoted", "  a b  "},
        {"Single", "x"},
        {"Mismatched", "\"x'"},
        {"Lone", "\""},
        {"Empty", ""},
        {"NoEquals", ""},
        {"Twice", "first"},
        {"Eq", "a=b"},
        {"Remind", std::nullopt},
        {"Late", std::nullopt},
        {"; settings", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Find(text, c.key), c.value) << c.key;
    EXPECT_EQ(Find(text, "Remind", "OTHER"), "9");
    EXPECT_EQ(Find(text, "Remind", "Missing"), std::nullopt);
}

TEST(ProfileRead, OddFilesReadWithADefiniteResult) {
    struct Case {
        std::string_view name;
        std::string text;
        std::optional<std::string> value; // of Agent/Remind
    };
    const Case cases[] = {
        {"empty", "", std::nullopt},
        {"no final newline", "[Agent]\nRemind=3", "3"},
        {"lone CR line ends", "[Agent]\rRemind=4\rOther=1", "4"},
        {"mixed line ends", "[Agent]\r\nA=1\nRemind=5\r", "5"},
        {"header never closes", "[Agent]\nRemind=6\n[Broken\nRemind=7\n", "6"},
        {"header never closes before", "[Agent\nRemind=8\n", std::nullopt},
        {"binary", std::string("\0\xff[Agent]\n\x01Remind=2\0\n", 20), std::nullopt},
        {"NUL inside a value",
         std::string("[Agent]\nRemind=1\0"
                     "2\n",
                     18),
         std::string("1\0"
                     "2",
                     3)},
        {"only a header", "[Agent]", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Find(c.text, "Remind"), c.value) << c.name;
}

TEST(ProfileRead, AHugeFileReads) {
    std::string text;
    for (int i = 0; i < 200000; ++i)
        text += "Key" + std::to_string(i) + "=value\r\n";
    text += "[Agent]\r\nRemind=1\r\n";
    EXPECT_GT(text.size(), 3'000'000u);
    EXPECT_EQ(Find(text, "Remind"), "1");
}

TEST(ProfileRead, ReturnsAtMostSizeMinusOneBytes) {
    TempFolder folder;
    WriteBytes(folder / "a.ini", "[Agent]\nLong=1000000000000000000000000\n");
    EXPECT_EQ(GetPrivateProfileString("Agent", "Long", "", 20, folder / "a.ini"),
              "1000000000000000000");
    EXPECT_EQ(GetPrivateProfileString("Agent", "None", "dflt", 20, folder / "a.ini"), "dflt");
    EXPECT_EQ(GetPrivateProfileString("Agent", "Long", "", 20, folder / "missing.ini"), "");
}

TEST(ProfileWrite, EditsInPlaceAndKeepsEveryOtherByte) {
    struct Case {
        std::string_view name;
        std::string before;
        std::string_view key;
        std::string_view value;
        std::string after;
    };
    const Case cases[] = {
        {"replace in place, key spelling kept",
         "; c\n[Other]\nRemind=9\n\n[agent]\n  remind = 0 \nX=1\n", "Remind", "1",
         "; c\n[Other]\nRemind=9\n\n[agent]\nremind=1\nX=1\n"},
        {"append to the section, before its blank lines",
         "[Agent]\r\nA=1\r\n\r\n[Other]\r\nB=2\r\n", "Remind", "5",
         "[Agent]\r\nA=1\r\nRemind=5\r\n\r\n[Other]\r\nB=2\r\n"},
        {"new section at the end, file's own line ends", "[Other]\nB=2", "Remind", "5",
         "[Other]\nB=2\n[Agent]\nRemind=5\n"},
        {"new file gets CR LF", "", "Remind", "5", "[Agent]\r\nRemind=5\r\n"},
        {"empty value", "[Agent]\r\nRemind=5\r\n", "Remind", "", "[Agent]\r\nRemind=\r\n"},
        {"first of two keys", "[Agent]\nR=1\nR=2\n", "R", "3", "[Agent]\nR=3\nR=2\n"},
        {"value kept as typed", "[Agent]\n", "AnniversaryStartUp", " 4 ",
         "[Agent]\nAnniversaryStartUp= 4 \n"},
        {"line break in a value", "[Agent]\n", "K", "a\r\nb", "[Agent]\nK=a  b\n"},
        {"section without final newline", "[Agent]\nA=1", "B", "2", "[Agent]\nA=1\nB=2\n"},
        {"lone CR", "[Agent]\rA=1\r", "A", "2", "[Agent]\rA=2\r"},
    };
    for (const auto& c : cases) {
        std::string after = EditProfileText(c.before, "Agent", c.key, c.value);
        EXPECT_EQ(after, c.after) << c.name;
    }
}

TEST(ProfileWrite, AWrittenValueReadsBackTrimmed) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"1", "1"}, {" 4 ", "4"}, {"", ""}, {"a\r\nb", "a  b"}, {"'q'", "q"}, {"x=y", "x=y"}};
    for (auto [written, read] : cases) {
        std::string text = EditProfileText("[Agent]\n", "Agent", "K", written);
        EXPECT_EQ(FindProfileValue(text, "Agent", "K"), std::string(read)) << written;
    }
}

TEST(ProfileWrite, ReplacesTheFileAtomicallyKeepingItsPermissions) {
    TempFolder folder;
    auto file = folder / "Zurodid.ini";
    WriteBytes(file, "[Agent]\nRemind=0\n");
    ::chmod(file.c_str(), 0640);
    ASSERT_TRUE(WritePrivateProfileString("Agent", "Remind", "1", file).ok);
    EXPECT_EQ(ReadBytes(file), "[Agent]\nRemind=1\n");
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()),
                            std::filesystem::directory_iterator()),
              1);
}

// A writer killed between naming its temporary file and the rename leaves
// "<file>.<pid>.tmp"; the next write removes it when that process is gone, and only then.
TEST(ProfileWrite, RemovesTheTemporaryFilesOfDeadWritersOnly) {
    TempFolder folder;
    auto file = folder / "Zurodid.ini";
    WriteBytes(file, "[Agent]\nRemind=0\n");
    const pid_t dead = ::fork();
    ASSERT_GE(dead, 0);
    if (dead == 0)
        ::_exit(0);
    ASSERT_EQ(::waitpid(dead, nullptr, 0), dead);
    const std::string base = file.string() + ".";
    const std::pair<std::string, bool> files[] = {
        {base + std::to_string(dead) + ".tmp", false},       // its writer is gone
        {base + std::to_string(::getppid()) + ".tmp", true}, // its writer still runs
        {base + "12x.tmp", true},                            // not a writer's name
        {(folder / "Other.ini.").string() + std::to_string(dead) + ".tmp", true},
    };
    for (const auto& [name, kept] : files)
        WriteBytes(name, "[Agent]\nRemind=");
    ASSERT_TRUE(WritePrivateProfileString("Agent", "Remind", "1", file).ok);
    EXPECT_EQ(ReadBytes(file), "[Agent]\nRemind=1\n");
    for (const auto& [name, kept] : files)
        EXPECT_EQ(std::filesystem::exists(name), kept) << name;
}

// Writes into a folder the writer may not change: as a plain user, or, when the tests run as
// root, in a child that has become the user nobody.
TEST(ProfileWrite, AReadOnlyFolderIsReportedAndLeavesTheOldFile) {
    TempFolder folder;
    auto file = folder / "Zurodid.ini";
    const std::string old = "[Agent]\nRemind=0\n";
    WriteBytes(file, old);
    ::chmod(file.c_str(), 0644);
    ::chmod(folder.Path().c_str(), 0555);
    auto attempt = [&] { return WritePrivateProfileString("Agent", "Remind", "1", file); };
    if (::geteuid() != 0) {
        WriteOutcome outcome = attempt();
        EXPECT_FALSE(outcome.ok);
        EXPECT_NE(outcome.error.find(folder.Path().string()), std::string::npos) << outcome.error;
    } else {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            bool dropped = ::setgid(65534) == 0 && ::setuid(65534) == 0;
            WriteOutcome outcome = attempt();
            ::_exit(!dropped ? 2 : outcome.ok ? 1 : outcome.error.empty() ? 3 : 0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0)
            << "1: reported success, 2: could not drop root, 3: no reason";
    }
    ::chmod(folder.Path().c_str(), 0755);
    EXPECT_EQ(ReadBytes(file), old);
}

TEST(ProfileWrite, AVanishedFolderIsReported) {
    TempFolder folder;
    WriteOutcome outcome =
        WritePrivateProfileString("Agent", "Remind", "1", folder / "gone" / "Zurodid.ini");
    EXPECT_FALSE(outcome.ok);
    EXPECT_FALSE(outcome.error.empty());
}

TEST(ProfileWrite, AFullDiskLeavesTheOldFile) {
    TempFolder folder;
    auto file = folder / "Zurodid.ini";
    const std::string old = "[Agent]\nRemind=0\n";
    WriteBytes(file, old);
    // A file-size limit makes the write fail as a full disk does, even for root.
    struct rlimit saved {};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    auto previousHandler = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 64;
    ::setrlimit(RLIMIT_FSIZE, &small);
    WriteOutcome outcome =
        WritePrivateProfileString("Agent", "Remind", std::string(200, '1'), file);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(ReadBytes(file), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()),
                            std::filesystem::directory_iterator()),
              1);
}

// As a careful handler does: the interrupted code's errno is left as it was.
void ReapEveryChild(int) {
    const int saved = errno;
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    errno = saved;
}

// Whatever SIGCHLD does in this process (a launcher can leave it ignored across exec), and
// whether the name is the file or a link to it, the save reaches the file, the link stays a link
// and nothing is left beside either.
TEST(ProfileWrite, SavesWhateverSigchldDoesAndThroughLinks) {
    struct Disposition {
        const char* name;
        void (*handler)(int);
    };
    const Disposition dispositions[] = {
        {"default", SIG_DFL}, {"ignored", SIG_IGN}, {"reaped by a handler", ReapEveryChild}};
    enum class Name { File, AbsoluteLink, RelativeLinkToALink };
    const std::pair<const char*, Name> names[] = {{"the file", Name::File},
                                                  {"an absolute link", Name::AbsoluteLink},
                                                  {"a link to a link", Name::RelativeLinkToALink}};
    const std::string old = "[Other]\r\nKept=1\r\n[Agent]\r\nRemind=0\r\n";
    for (const Disposition& disposition : dispositions) {
        for (const auto& [what, name] : names) {
            SCOPED_TRACE(std::string(disposition.name) + ", " + what);
            TempFolder folder, elsewhere;
            const auto file = folder / "Zurodid.ini";
            auto target = file;
            if (name == Name::File) {
                WriteBytes(file, old);
            } else {
                target = elsewhere / "kept.ini";
                WriteBytes(target, old);
                if (name == Name::RelativeLinkToALink) {
                    std::filesystem::create_symlink("kept.ini", elsewhere / "middle.ini");
                    std::filesystem::create_symlink(elsewhere / "middle.ini", file);
                } else {
                    std::filesystem::create_symlink(target, file);
                }
            }
            struct sigaction wanted {
            }, saved{};
            wanted.sa_handler = disposition.handler;
            ::sigaction(SIGCHLD, &wanted, &saved);
            const WriteOutcome outcome = WritePrivateProfileString("Agent", "Remind", "5", file);
            ::sigaction(SIGCHLD, &saved, nullptr);

            EXPECT_TRUE(outcome.ok) << outcome.error;
            EXPECT_EQ(ReadBytes(target), "[Other]\r\nKept=1\r\n[Agent]\r\nRemind=5\r\n");
            EXPECT_EQ(std::filesystem::is_symlink(file), name != Name::File);
            for (const auto* place : {&folder, &elsewhere})
                for (const auto& entry : std::filesystem::directory_iterator(place->Path()))
                    EXPECT_FALSE(entry.path().string().ends_with(".tmp")) << entry.path();
        }
    }
}

} // namespace
} // namespace zurodid
