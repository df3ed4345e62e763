// desktop-entry: prints the agent's desktop entry, for the setup command, scripts/install and
// the install rules.
//
//   desktop-entry menu|autostart EXECUTABLE [FOLDER]
//   desktop-entry setup-menu SETUP-COMMAND
//
// EXECUTABLE is the absolute path the agent will run from, FOLDER the diary's folder when it
// is not the executable's. Exit status 2 with a message when a path cannot be written into an
// entry.

#include "tools/desktop-entry/DesktopEntry.h"

#include <algorithm>
#include <iostream>
#include <iterator>
#include <string_view>

int main(int argc, char** argv) {
    using namespace zurodid::desktop_entry;
    std::string_view kind = argc == 3 || argc == 4 ? argv[1] : "";
    const EntryKind kinds[] = {EntryKind::Menu, EntryKind::Autostart, EntryKind::SetupMenu};
    const std::string_view names[] = {"menu", "autostart", "setup-menu"};
    const auto* named = std::find(std::begin(names), std::end(names), kind);
    if (named == std::end(names) || (kind == "setup-menu" && argc == 4)) {
        std::cerr << "usage: desktop-entry menu|autostart EXECUTABLE [FOLDER]\n"
                     "       desktop-entry setup-menu SETUP-COMMAND\n";
        return 2;
    }
    try {
        std::cout << AgentEntry(kinds[named - std::begin(names)], argv[2],
                                argc == 4 ? argv[3] : "");
    } catch (const EntryError& error) {
        std::cerr << "desktop-entry: " << error.what() << '\n';
        return 2;
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
}
