#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace zurodid {

// What the agent was asked on its command line. Only its own options are taken; the rest is
// left in `remaining`, for the toolkit (-platform, -display, ...).
struct AgentOptions {
    // The folder of the diary and the settings in place of the executable's folder (a packaged
    // agent lives in /usr/bin): absolute, links resolved, so one folder has one name and one
    // agent. Empty when not given.
    std::filesystem::path folder;
    bool help = false;
    bool version = false;
    std::vector<std::string> remaining; // the program name first
};

// A command line the agent cannot run with; the message says why, for standard error.
class OptionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads --folder DIR (or --folder=DIR), --help and --version from `arguments` (the program
// name first). Throws OptionError for --folder without a value, given twice, or naming
// something that is not a folder.
AgentOptions ParseAgentOptions(const std::vector<std::string>& arguments);

// The usage text printed by --help.
std::string AgentUsage();

} // namespace zurodid
