#include "platform/CommandLine.h"

#include <system_error>

namespace zurodid {

namespace {

std::filesystem::path ResolveFolder(const std::string& value) {
    if (value.empty())
        throw OptionError("--folder needs a folder");
    std::error_code error;
    std::filesystem::path folder = std::filesystem::canonical(value, error);
    if (error)
        throw OptionError("--folder " + value + ": " + error.message());
    if (!std::filesystem::is_directory(folder, error))
        throw OptionError("--folder " + value + ": not a folder");
    return folder;
}

} // namespace

AgentOptions ParseAgentOptions(const std::vector<std::string>& arguments) {
    AgentOptions options;
    bool folderGiven = false;
    auto takeFolder = [&](const std::string& value) {
        if (folderGiven)
            throw OptionError("--folder given more than once");
        folderGiven = true;
        options.folder = ResolveFolder(value);
    };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (i == 0) {
            options.remaining.push_back(argument);
        } else if (argument == "--folder") {
            if (i + 1 == arguments.size())
                throw OptionError("--folder needs a folder");
            takeFolder(arguments[++i]);
        } else if (argument.starts_with("--folder=")) {
            takeFolder(argument.substr(std::string_view("--folder=").size()));
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--version") {
            options.version = true;
        } else {
            options.remaining.push_back(argument);
        }
    }
    return options;
}

std::string AgentUsage() {
    return "Usage: zurodid-agent [--folder FOLDER]\n"
           "Reminds you of the appointments and anniversaries in your Zurodid diary, from an\n"
           "icon in the notification area.\n"
           "\n"
           "  --folder FOLDER  use Zurodid.mdb and Zurodid.ini in FOLDER instead of the\n"
           "                   folder that holds this program\n"
           "  -h, --help       show this text\n"
           "  --version        show the version\n"
           "\n"
           "zurodid-agent-setup makes it start with your session.\n";
}

} // namespace zurodid
