#include "cli/command_error.h"

#include "base/utf8.h"

#include <algorithm>

namespace quellora {

int reportCommandError(const ConsoleStreams& console, std::string_view command, ExitStatus status,
                       std::string_view message) {
    // Library messages sometimes span lines; the report is always one. What
    // else it holds may echo names others chose (a preset's, an
    // application's): their control characters are shown, never obeyed.
    std::string line(message);
    std::replace(line.begin(), line.end(), '\n', ' ');
    while (!line.empty() && line.back() == ' ') {
        line.pop_back();
    }
    console.err << "quellora " << command << ": " << escapedControls(line) << '\n';
    return static_cast<int>(status);
}

} // namespace quellora
