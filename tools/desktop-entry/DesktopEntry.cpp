#include "tools/desktop-entry/DesktopEntry.h"

#include "platform/CodePage.h"

#include <algorithm>

namespace zurodid::desktop_entry {

namespace {

// The characters that oblige an Exec argument to be quoted.
constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
// Inside double quotes these keep their meaning unless escaped.
constexpr std::string_view kEscapedInQuotes = "\"`$\\";

bool IsUtf8(std::string_view text) {
    // iconv turns every byte sequence that is no UTF-8 character into "?".
    std::optional<std::string> checked = ConvertCharset(text, "UTF-8", "UTF-8");
    return checked && *checked == text;
}

// A path an entry can carry; `what` names it in the message.
void CheckPath(std::string_view what, std::string_view path) {
    if (!path.starts_with('/'))
        throw EntryError(std::string(what) + " must be absolute: " + std::string(path));
    if (!IsUtf8(path))
        throw EntryError("desktop entries hold UTF-8 text only, and " + std::string(what) +
                         " is not UTF-8: " + std::string(path));
    bool control = std::any_of(path.begin(), path.end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && c != '\t' && c != '\n') || byte == 0x7f;
    });
    if (control)
        throw EntryError(std::string(what) + " holds a control character: " + std::string(path));
}

} // namespace

std::string EscapeString(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case ' ':
            out += i == 0 ? "\\s" : " ";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string QuoteExecArgument(std::string_view argument) {
    bool quote = argument.empty() || argument.find_first_of(kReserved) != std::string_view::npos;
    std::string out;
    if (quote)
        out += '"';
    for (char c : argument) {
        if (c == '%')
            out += '%';
        else if (quote && kEscapedInQuotes.find(c) != std::string_view::npos)
            out += '\\';
        out += c;
    }
    if (quote)
        out += '"';
    return out;
}

std::string ExecValue(const std::vector<std::string>& argv) {
    std::string command;
    for (const std::string& argument : argv) {
        if (!command.empty())
            command += ' ';
        command += QuoteExecArgument(argument);
    }
    return EscapeString(command);
}

std::string AgentEntry(EntryKind kind, std::string_view executable, std::string_view folder) {
    CheckPath("the agent's path", executable);
    if (!folder.empty())
        CheckPath("the diary's folder", folder);
    if (kind == EntryKind::SetupMenu && !folder.empty())
        throw EntryError("the setup command's entry names no folder");
    std::vector<std::string> argv{std::string(executable)};
    if (!folder.empty())
        argv.insert(argv.end(), {"--folder", std::string(folder)});
    // GLib (gio, GNOME, XFCE) looks the program up before it turns "%%" back into "%", and
    // so finds none in a folder whose name holds a "%": env is found, and given the path.
    if (executable.find('%') != std::string_view::npos)
        argv.insert(argv.begin(), "/usr/bin/env");

    std::string entry = "[Desktop Entry]\n"
                        "Type=Application\n"
                        "Version=1.4\n"
                        "Name=Zurodid Agent\n"
                        "GenericName=Diary Reminders\n"
                        "Comment=Reminds you of the appointments and anniversaries in your "
                        "Zurodid diary\n";
    entry += "Exec=" + ExecValue(argv) + "\n";
    entry += "TryExec=" + EscapeString(executable) + "\n";
    entry += "Icon=zurodid-agent\n"
             "Terminal=false\n"
             "Categories=Office;Calendar;\n"
             "Keywords=diary;reminder;appointment;anniversary;\n";
    // Tells the entries of one diary from those of another when they are removed.
    if (!folder.empty())
        entry += "X-Zurodid-Folder=" + EscapeString(folder) + "\n";
    if (kind == EntryKind::Autostart)
        entry += "X-GNOME-Autostart-enabled=true\n";
    return entry;
}

} // namespace zurodid::desktop_entry
