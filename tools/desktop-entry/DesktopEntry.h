#pragma once

// Desktop entry files (by the freedesktop.org rules) for the agent: the menu entry and the log-in
// (XDG autostart) entry, with the Exec line quoted in one place.

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zurodid::desktop_entry {

// A value the key file format cannot carry as it is, or a path the agent cannot be started
// from. The message says what is wrong, for the person installing.
class EntryError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// A string value as the key file stores it: backslash, newline, tab and carriage return
// escaped, and a blank at the start written as \s so that it is not trimmed.
std::string EscapeString(std::string_view value);

// One argument of an Exec command: "%" doubled; put in double quotes, with the four characters
// " ` $ and backslash escaped, when it holds a reserved character or is empty.
std::string QuoteExecArgument(std::string_view argument);

// The Exec value for a program and its arguments, ready to follow "Exec=": every argument
// quoted, then the whole escaped as a string value.
std::string ExecValue(const std::vector<std::string>& argv);

// Menu and Autostart start the agent; SetupMenu is the packaged menu entry, which starts the
// setup command (it finds the diary, writes the user's own entries, which take its place in
// the menu, and starts the agent).
enum class EntryKind { Menu, Autostart, SetupMenu };

// The whole entry that starts `executable`, an absolute path in UTF-8, with `--folder FOLDER`
// when a folder is given (an agent installed away from the diary). Throws EntryError for a
// relative path, text that is not UTF-8, or a control character other than tab and newline.
std::string AgentEntry(EntryKind kind, std::string_view executable, std::string_view folder = {});

} // namespace zurodid::desktop_entry
