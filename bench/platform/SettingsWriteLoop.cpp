// settings_write_loop FOLDER [SAVES]: saves the five settings into FOLDER/Zurodid.ini the way the
// Options dialog's OK does (Module1::WriteINI, five keys in order), again and again, old and
// new values in turn, until it is killed (or SAVES times, to time it). Prints "ready" once the
// first save is done. kill_settings_write.py kills it at random moments and checks what is left.
#include "store/AgentSettings.h"
#include "store/Module1.h"

#include <array>
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: settings_write_loop FOLDER [SAVES]\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    const zurodid::Module1 module1([folder] { return folder; });
    // The two saves the checking script knows as "old" and "new".
    const std::array<std::array<std::string, 5>, 2> twoSaves{{
        {"1", "7", "3", "1", "15"},
        {"0", "30", "14", "0", "5"},
    }};
    const unsigned long saves = argc == 3 ? std::stoul(argv[2]) : 0;
    for (unsigned long save = 0; saves == 0 || save < saves; ++save) {
        const auto& values = twoSaves[save % 2];
        for (std::size_t key = 0; key < zurodid::kSettingKeys.size(); ++key) {
            const auto outcome = module1.WriteINI(zurodid::kSettingsSection,
                                                  zurodid::kSettingKeys[key].name, values[key]);
            if (!outcome.ok) {
                std::fprintf(stderr, "settings_write_loop: %s\n", outcome.error.c_str());
                return 1;
            }
        }
        if (save == 0) {
            std::printf("ready\n");
            std::fflush(stdout);
        }
    }
    return 0;
}
