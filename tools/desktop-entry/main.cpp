// desktop-entry: prints the agent's desktop entry, for scripts/install and the install rules.
//
//   desktop-entry menu|autostart EXECUTABLE
//
// EXECUTABLE is the absolute path the agent will run from. Exit status 2 with a message when
// the path cannot be written into an entry.

#include "tools/desktop-entry/DesktopEntry.h"

#include <iostream>
#include <string_view>

int main(int argc, char** argv) {
    using namespace zurodid::desktop_entry;
    std::string_view kind = argc == 3 ? argv[1] : "";
    if (kind != "menu" && kind != "autostart") {
        std::cerr << "usage: desktop-entry menu|autostart EXECUTABLE\n";
        return 2;
    }
    try {
        std::cout << AgentEntry(kind == "menu" ? EntryKind::Menu : EntryKind::Autostart, argv[2]);
    } catch (const EntryError& error) {
        std::cerr << "desktop-entry: " << error.what() << '\n';
        return 2;
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
}
