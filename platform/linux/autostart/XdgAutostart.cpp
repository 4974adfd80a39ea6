#include "platform/linux/autostart/XdgAutostart.hpp"

#include <system_error>

#include "Kestrune/defaults/XdgDirectories.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Support/AtomicFile.hpp"

namespace kestrune::xdg_autostart {

namespace fs = std::filesystem;

namespace {

// Autostart entries are read by the session manager, which runs as the user: readable by all is
// the folder's custom and hides nothing.
constexpr mode_t kEntryMode = 0644;

// Characters that make an Exec argument need double quotes (Desktop Entry Specification, "The
// Exec key").
constexpr std::string_view kReservedInExec = " \t\n\"'\\><~|&;$*?#()`";

std::string quotedExecArgument(const std::string& argument) {
    if (argument.find_first_of(kReservedInExec) == std::string::npos) return argument;
    std::string quoted = "\"";
    for (const char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

// The value escapes of desktop files: a backslash itself is written twice.
std::string escapedValue(const std::string& value) {
    std::string escaped;
    for (const char c : value) {
        if (c == '\\') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

std::string unescapedValue(std::string_view value) {
    std::string plain;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            plain += value[i];
            continue;
        }
        switch (value[++i]) {
            case 's':
                plain += ' ';
                break;
            case 'n':
                plain += '\n';
                break;
            case 't':
                plain += '\t';
                break;
            case 'r':
                plain += '\r';
                break;
            default:
                plain += value[i];
                break;
        }
    }
    return plain;
}

// The program an Exec value starts: its first argument, unquoted.
std::string execProgram(std::string_view exec) {
    std::string program;
    std::size_t i = exec.find_first_not_of(' ');
    if (i == std::string_view::npos) return program;
    if (exec[i] != '"') {
        const std::size_t end = exec.find(' ', i);
        return std::string(exec.substr(i, end == std::string_view::npos ? end : end - i));
    }
    for (++i; i < exec.size() && exec[i] != '"'; ++i) {
        if (exec[i] == '\\' && i + 1 < exec.size()) ++i;
        program += exec[i];
    }
    return program;
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// The keys of the [Desktop Entry] group that decide the status.
struct EntryKeys {
    std::optional<std::string> exec;
    bool hidden = false;
};

EntryKeys readEntryKeys(std::string_view contents) {
    EntryKeys keys;
    bool inMainGroup = false;
    while (!contents.empty()) {
        const auto newline = contents.find('\n');
        const std::string_view line = trimmed(contents.substr(0, newline));
        contents.remove_prefix(newline == std::string_view::npos ? contents.size() : newline + 1);
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const auto equals = line.find('=');
        if (!inMainGroup || equals == std::string_view::npos) continue;
        const std::string_view key = trimmed(line.substr(0, equals));
        const std::string value = unescapedValue(trimmed(line.substr(equals + 1)));
        if (key == "Exec") keys.exec = value;
        // "Hidden" is how the desktop-entry standard deletes an entry; GNOME's own switch in its
        // startup applications tool turns the entry off without deleting it.
        if (key == "Hidden" && value == "true") keys.hidden = true;
        if (key == "X-GNOME-Autostart-enabled" && value == "false") keys.hidden = true;
    }
    return keys;
}

Result<void, std::string> removeEntry(const fs::path& file) {
    std::error_code ec;
    fs::remove(file, ec);
    if (ec) return "cannot remove " + file.string() + ": " + ec.message();
    return {};
}

}  // namespace

Locations currentLocations() {
    std::error_code ec;
    fs::path executable = fs::read_symlink("/proc/self/exe", ec);
    if (ec) executable.clear();
    return Locations{.autostartFolder = xdgConfigHome() / "autostart", .executable = executable};
}

std::optional<fs::path> installedPrefix(const fs::path& executable) {
    if (executable.empty() || executable.parent_path().filename() != "bin") return std::nullopt;
    const fs::path prefix = executable.parent_path().parent_path();
    std::error_code ec;
    if (!fs::is_regular_file(prefix / "share" / "applications" / kDesktopFileName, ec)) {
        return std::nullopt;
    }
    return prefix;
}

std::string desktopEntry(const fs::path& program) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Murrelo\n"
           "Comment=Push-to-talk dictation and typing from your phone\n"
           "Exec=" +
           escapedValue(quotedExecArgument(program.string())) +
           "\n"
           "Icon=zz.holvanis.murrelo\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

LoginItemStatus readStatus(const fs::path& file) {
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    if (ec || size > kLargestEntry) return LoginItemStatus::notRegistered;
    const auto contents = readWholeFile(file);
    if (!contents) return LoginItemStatus::notRegistered;
    const EntryKeys keys = readEntryKeys(*contents);
    if (!keys.exec || keys.hidden) return LoginItemStatus::notRegistered;
    if (fs::path(execProgram(*keys.exec)).filename() != kProgramName) {
        return LoginItemStatus::notRegistered;
    }
    return LoginItemStatus::enabled;
}

LoginItem makeLoginItem(const Locations& locations) {
    const fs::path file = locations.autostartFolder / kDesktopFileName;
    const auto prefix = installedPrefix(locations.executable);
    LoginItem item;
    item.isInstalled = prefix.has_value();
    item.readStatus = [file] { return readStatus(file); };
    item.registerItem = [file, prefix]() -> Result<void, std::string> {
        // The switch is disabled then; a caller that asks anyway gets the switch's own reason.
        if (!prefix) {
            return localized(
                "Not available here — Launch at Login works only from the installed app.");
        }
        auto written =
            writeFileAtomically(file, desktopEntry(*prefix / "bin" / kProgramName), kEntryMode);
        // The writer's text says what failed, not where: the user needs the folder to fix it.
        if (!written) return file.string() + ": " + written.error();
        return {};
    };
    item.unregisterItem = [file] { return removeEntry(file); };
    return item;
}

}  // namespace kestrune::xdg_autostart
