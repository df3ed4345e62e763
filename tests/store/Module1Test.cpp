#include "store/Module1.h"

#include "platform/CodePage.h"
#include "support/FileStates.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace zurodid {
namespace {

using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;

std::string Field(std::string_view value) {
    return std::string(value) + std::string(20 - value.size(), '\0');
}

TEST(Module1, ReadINIReturnsTheTwentyCharacterField) {
    TempFolder folder;
    Module1 module1([&] { return folder.Path(); });
    EXPECT_EQ(module1.ReadINI("Agent", "Remind"), std::string(20, '\0')) << "no file";
    WriteBytes(folder / "Zurodid.ini", "[Agent]\r\nRemind=1\r\nLong=1000000000000000000000000\r\n");
    EXPECT_EQ(module1.ReadINI("Agent", "Remind"), Field("1"));
    EXPECT_EQ(module1.ReadINI("agent", "REMIND"), Field("1"));
    EXPECT_EQ(module1.ReadINI("Agent", "Long"), Field("1000000000000000000"));
    EXPECT_EQ(module1.ReadINI("Agent", "Missing"), std::string(20, '\0'));
}

TEST(Module1, ThaiValuesRoundTripInWindows874) {
    TempFolder folder;
    Module1 module1([&] { return folder.Path(); });
    const std::string thai = "นัดหมาย"; // 7 characters, 21 bytes of UTF-8
    ASSERT_TRUE(module1.WriteINI("Agent", "Note", thai).ok);
    EXPECT_EQ(ReadBytes(folder / "Zurodid.ini"),
              "[Agent]\r\nNote=" + Windows874FromUtf8(thai) + "\r\n");
    EXPECT_EQ(module1.ReadINI("Agent", "Note"), thai + std::string(13, '\0'));
}

TEST(Module1, FollowsTheFolderAtEveryCall) {
    TempFolder first, second;
    const TempFolder* current = &first;
    Module1 module1([&] { return current->Path(); });
    module1.WriteINI("Agent", "Remind", "1");
    current = &second;
    EXPECT_EQ(module1.ReadINI("Agent", "Remind"), std::string(20, '\0'));
    module1.WriteINI("Agent", "Remind", "2");
    EXPECT_EQ(ReadBytes(first / "Zurodid.ini"), "[Agent]\r\nRemind=1\r\n");
    EXPECT_EQ(ReadBytes(second / "Zurodid.ini"), "[Agent]\r\nRemind=2\r\n");
}

TEST(Module1, OneOkOfTheOptionsWritesTheFiveKeysInOrder) {
    TempFolder folder;
    Module1 module1([&] { return folder.Path(); });
    for (auto [key, value] : {std::pair{"StartUpRemind", "1"},
                              {"AnniversaryStartUp", "7"},
                              {"AppointmentStartUp", "3"},
                              {"Remind", "1"},
                              {"AppointmentRemind", "15"}})
        ASSERT_TRUE(module1.WriteINI("Agent", key, value).ok);
    EXPECT_EQ(ReadBytes(folder / "Zurodid.ini"),
              "[Agent]\r\nStartUpRemind=1\r\nAnniversaryStartUp=7\r\nAppointmentStartUp=3\r\n"
              "Remind=1\r\nAppointmentRemind=15\r\n");
}

TEST(Module1, ASettingsFileThatCannotBeReadIsLoggedOnceAndReadsEmpty) {
    TempFolder folder;
    WriteBytes(folder / "not a folder", "x");
    // The folder it asks for is a file: the settings file is there to no reading.
    std::filesystem::path asked = folder / "not a folder";
    Module1 module1([&] { return asked; });
    testing::LogCapture log;
    for (std::string_view key : {"StartUpRemind", "AnniversaryStartUp", "Remind"})
        EXPECT_EQ(module1.ReadINI("Agent", key), std::string(20, '\0')) << key;
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], "zurodid-agent: reading the settings: error " +
                                std::to_string(ENOTDIR) + ": " + std::strerror(ENOTDIR) + ": " +
                                (asked / "Zurodid.ini").string());
    // Readable again, then not: said again.
    asked = folder.Path();
    module1.ReadINI("Agent", "Remind");
    asked = folder / "not a folder";
    module1.ReadINI("Agent", "Remind");
    EXPECT_EQ(log.lines.size(), 2u);
    // A missing file is no failure: it reads as empty, as the settings' defaults.
    asked = folder / "gone";
    module1.ReadINI("Agent", "Remind");
    EXPECT_EQ(log.lines.size(), 2u);
}

// What a folder can hold in the settings file's place: each read and each save ends with a clear
// outcome (a hang would stop the suite at its timeout), is logged once, keeps the process alive
// and loses nothing that is there.
TEST(Module1, EveryKindOfFileInTheSettingsPlaceGivesAClearOutcomeAndLosesNothing) {
    using testing::FileState;
    const std::string whole = "[Agent]\r\nRemind=1\r\n";
    struct Expected {
        FileState state;
        const char* remind; // the value read, "" for none
        bool logged;
        bool saved; // else refused, and the file left as it was
    };
    const Expected table[] = {
        {FileState::Folder, "", true, false},      {FileState::Fifo, "", true, false},
        {FileState::Device, "", true, false},      {FileState::LinkToDevice, "", true, false},
        {FileState::LinkToFile, "1", false, true}, {FileState::OverBound, "1", true, false},
        {FileState::Huge, "1", true, false},       {FileState::InvalidBytes, "", false, true},
        {FileState::Unreadable, "", true, false},
    };
    for (const Expected& row : table) {
        const char* name = "";
        for (const auto& known : testing::kFileStates)
            if (known.state == row.state)
                name = known.name;
        SCOPED_TRACE(name);
        TempFolder folder, elsewhere;
        const auto file = folder / "Zurodid.ini";
        const auto bytesAt = testing::MakeFileState(file, row.state, whole, elsewhere.Path());
        struct stat before {};
        ASSERT_EQ(::lstat(file.c_str(), &before), 0);
        const bool regular = S_ISREG(before.st_mode) || row.state == FileState::LinkToFile;
        const std::string old = regular && row.state != FileState::Huge ? ReadBytes(bytesAt) : "";

        auto readAndSave = [&] {
            Module1 module1([&] { return folder.Path(); });
            testing::LogCapture log;
            std::string read = module1.ReadINI("Agent", "Remind");
            read = read.substr(0, read.find('\0'));
            module1.ReadINI("Agent", "Remind"); // a Refresh: nothing said again
            const std::size_t lines = log.lines.size();
            const bool saved = module1.WriteINI("Agent", "Remind", "2").ok;
            return read + "|" + std::to_string(lines) + "|" + (saved ? "saved" : "refused");
        };
        const std::string outcome = row.state == FileState::Unreadable
                                        ? testing::WithoutPermissionOverride(readAndSave)
                                        : readAndSave();
        EXPECT_EQ(outcome, std::string(row.remind) + "|" + (row.logged ? "1" : "0") + "|" +
                               (row.saved ? "saved" : "refused"));

        struct stat after {};
        ASSERT_EQ(::lstat(file.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & S_IFMT, before.st_mode & S_IFMT) << "the kind of file is kept";
        if (row.state == FileState::Huge) {
            EXPECT_EQ(std::filesystem::file_size(file), 100'000'000u);
        } else if (regular && row.saved) {
            EXPECT_EQ(ReadBytes(bytesAt), EditProfileText(old, "Agent", "Remind", "2"))
                << "the rest kept";
        } else if (regular) {
            EXPECT_EQ(ReadBytes(bytesAt), old);
        }
        for (const auto* place : {&folder, &elsewhere})
            for (const auto& entry : std::filesystem::directory_iterator(place->Path()))
                EXPECT_FALSE(entry.path().string().ends_with(".tmp")) << entry.path();
    }
}

} // namespace
} // namespace zurodid
