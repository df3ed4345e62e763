#include "store/AgentSettings.h"

#include "platform/RuntimeError.h"
#include "store/Module1.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

namespace zurodid {
namespace {

using testing::TempFolder;
using testing::WriteBytes;

TEST(ReadSetting, TurnsTheStoredTextIntoASixteenBitValue) {
    struct Case {
        std::string_view stored;  // after "AnniversaryStartUp="; "<absent>" leaves the key out
        std::optional<int> value; // empty: overflow error 6
    };
    const Case cases[] = {
        {"7", 7},
        {" 7 ", 7},
        {"12abc", 12},
        {"abc", 0},
        {"", 0},
        {"<absent>", 0},
        {"2.5", 2},
        {"3.5", 4},
        {"&H10", 16},
        {"32767", 32767},
        {"32768", {}},
        {"-32768", -32768},
        {"1000000000000000000000000", {}},
        {"1.4", 1},
        {"1.5", 2},
        {"\"5\"", 5},
        {"0000000000000000000009", 0},
    };
    TempFolder folder;
    Module1 module1([&] { return folder.Path(); });
    for (const auto& c : cases) {
        WriteBytes(folder / "Zurodid.ini",
                   c.stored == "<absent>"
                       ? std::string("[Agent]\r\n")
                       : "[Agent]\r\nAnniversaryStartUp=" + std::string(c.stored) + "\r\n");
        if (c.value) {
            EXPECT_EQ(ReadSetting(module1, "AnniversaryStartUp"), *c.value) << c.stored;
            continue;
        }
        try {
            ReadSetting(module1, "AnniversaryStartUp");
            ADD_FAILURE() << c.stored << " read without overflow";
        } catch (const RuntimeError& error) {
            EXPECT_EQ(error.Number(), ErrorNumber::Overflow) << c.stored;
        }
    }
}

TEST(ReadSetting, AMissingFileReadsAsZero) {
    TempFolder folder;
    Module1 module1([&] { return folder.Path() / "vanished"; });
    for (const SettingKey& key : kSettingKeys)
        EXPECT_EQ(ReadSetting(module1, key.name), 0) << key.name;
}

} // namespace
} // namespace zurodid
