#include "app/xdg_autostart_login_item.h"

#include "base/application_id.h"
#include "base/file_system.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string_view>
#include <system_error>

namespace quellora {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view desktopEntryGroup = "[Desktop Entry]";
// Far more than any desktop entry; anything larger is not ours to read.
constexpr std::size_t maxEntryBytes = 64 * 1024;

// Quotes one Exec argument by the Desktop Entry Specification: an argument
// with a reserved character goes in double quotes with `"`, `` ` ``, `$` and
// `\` backslash-escaped; a literal `%` is always doubled. Carriage return is
// not on the reserved list but would split the argument for some launchers.
// Launchers that hand Exec to a shell would otherwise read an unquoted `(`
// or `)` as a subshell.
std::string quoteExecArgument(std::string_view argument) {
    constexpr std::string_view reserved = " \t\n\r\"'\\><~|&;$*?#`()";
    std::string quoted;
    const bool needsQuotes =
        argument.empty() || argument.find_first_of(reserved) != std::string_view::npos;
    if (needsQuotes) {
        quoted += '"';
    }
    for (const char c : argument) {
        if (needsQuotes && std::string_view("\"`$\\").find(c) != std::string_view::npos) {
            quoted += '\\';
        }
        quoted += c;
        if (c == '%') {
            quoted += '%';
        }
    }
    if (needsQuotes) {
        quoted += '"';
    }
    return quoted;
}

// The escapes every string value gets, applied after the quoting above; this
// is why a literal `$` ends up written as `\\$`.
std::string escapeStringValue(std::string_view value) {
    std::string escaped;
    for (const char c : value) {
        switch (c) {
        case '\\':
            escaped += "\\\\";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\t':
            escaped += "\\t";
            break;
        case '\r':
            escaped += "\\r";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::string execValue(const std::vector<std::string>& command) {
    std::string line;
    for (const auto& argument : command) {
        if (!line.empty()) {
            line += ' ';
        }
        line += quoteExecArgument(argument);
    }
    return escapeStringValue(line);
}

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view space = " \t\r";
    const auto first = text.find_first_not_of(space);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// Whether `contents` is a desktop entry that the session would start: it has
// a [Desktop Entry] group, and that group neither hides it nor switches
// autostart off. Keys are case-sensitive; booleans are "true" or "false".
bool isEnabledEntry(std::string_view contents) {
    bool inGroup = false;
    bool foundGroup = false;
    while (!contents.empty()) {
        const auto end = std::min(contents.find('\n'), contents.size());
        const auto line = trimmed(contents.substr(0, end));
        contents.remove_prefix(std::min(end + 1, contents.size()));
        if (line.starts_with('[')) {
            inGroup = line == desktopEntryGroup;
            foundGroup = foundGroup || inGroup;
            continue;
        }
        const auto equals = line.find('=');
        if (!inGroup || line.starts_with('#') || equals == std::string_view::npos) {
            continue;
        }
        const auto key = trimmed(line.substr(0, equals));
        const auto value = trimmed(line.substr(equals + 1));
        if ((key == "Hidden" && value == "true") ||
            (key == "X-GNOME-Autostart-enabled" && value == "false")) {
            return false;
        }
    }
    return foundGroup;
}

bool isExecutableFile(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

} // namespace

XdgAutostartLoginItem::XdgAutostartLoginItem(fs::path autostartDirectory,
                                             std::vector<std::string> command)
    : autostartDirectory_(std::move(autostartDirectory))
    , entryPath_(autostartDirectory_ / (std::string(applicationId) + ".desktop"))
    , command_(std::move(command)) {
    if (command_.empty()) {
        throw std::invalid_argument("XdgAutostartLoginItem needs a command to launch");
    }
}

fs::path XdgAutostartLoginItem::launchedExecutable(const fs::path& running,
                                                   std::string_view searchPath) {
    // The kernel's mark on a link to a file that was removed or replaced.
    constexpr std::string_view deletedMark = " (deleted)";
    auto executable = running;
    const auto text = running.string();
    if (text.ends_with(deletedMark) && !fs::exists(running)) {
        executable = text.substr(0, text.size() - deletedMark.size());
    }
    const bool installed = executable.parent_path().filename() == "bin";
    if (installed && isExecutableFile(executable)) {
        return executable;
    }
    while (!searchPath.empty()) {
        const auto end = std::min(searchPath.find(':'), searchPath.size());
        const auto candidate = fs::path(searchPath.substr(0, end)) / "quellora";
        searchPath.remove_prefix(std::min(end + 1, searchPath.size()));
        if (candidate.is_absolute() && isExecutableFile(candidate)) {
            return candidate;
        }
    }
    if (isExecutableFile(executable)) {
        return executable;
    }
    throw LoginItemError(fmt::format("Cannot find Quellora to start at login: {} is gone and no "
                                     "quellora is installed on the search path",
                                     executable.string()));
}

XdgAutostartLoginItem XdgAutostartLoginItem::forThisExecutable(std::vector<std::string> arguments) {
    std::error_code error;
    const auto running = fs::read_symlink("/proc/self/exe", error);
    if (error) {
        throw LoginItemError("Cannot find the path of the running program: " + error.message());
    }
    const char* searchPath = std::getenv("PATH");
    arguments.insert(arguments.begin(),
                     launchedExecutable(running, searchPath != nullptr ? searchPath : "").string());
    return XdgAutostartLoginItem(defaultAutostartDirectory(), std::move(arguments));
}

fs::path XdgAutostartLoginItem::defaultAutostartDirectory() {
    try {
        return xdgConfigHome() / "autostart";
    } catch (const std::runtime_error& error) {
        throw LoginItemError(error.what());
    }
}

LoginItemStatus XdgAutostartLoginItem::status() const {
    try {
        const auto contents = readFileIfPresent(entryPath_, maxEntryBytes);
        return contents && isEnabledEntry(*contents) ? LoginItemStatus::enabled
                                                     : LoginItemStatus::notRegistered;
    } catch (const std::exception&) {
        // An entry we cannot read, the session cannot start either.
        return LoginItemStatus::notRegistered;
    }
}

void XdgAutostartLoginItem::registerItem() {
    const auto contents =
        fmt::format("{}\n"
                    "Type=Application\n"
                    "Name=Quellora\n"
                    "Comment=Keeps everything the computer plays at an even loudness\n"
                    "Exec={}\n"
                    "Icon={}\n"
                    "Terminal=false\n"
                    "X-GNOME-Autostart-enabled=true\n"
                    "Categories=AudioVideo;Audio;\n",
                    desktopEntryGroup, execValue(command_), applicationId);
    try {
        createDirectories(autostartDirectory_, 0700);
        // The temporary name is hidden and does not end in ".desktop", so a
        // session starting meanwhile never launches a half-written entry.
        writeFileAtomically(entryPath_, contents,
                            {"." + entryPath_.filename().string() + ".tmp-", 0644, {}});
    } catch (const std::system_error& error) {
        throw LoginItemError(fmt::format("{}. Check that {} is a folder you can write to.",
                                         error.what(), autostartDirectory_.string()));
    }
}

void XdgAutostartLoginItem::unregisterItem() {
    try {
        removeFileIfPresent(entryPath_);
    } catch (const std::system_error& error) {
        throw LoginItemError(fmt::format("{}. Check that {} is a folder you can write to.",
                                         error.what(), autostartDirectory_.string()));
    }
}

} // namespace quellora
