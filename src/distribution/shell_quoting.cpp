#include "distribution/shell_quoting.h"

namespace quellora {

std::string shellQuote(std::string_view text) {
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    quoted += '\'';
    return quoted;
}

std::string appleScriptStringContents(std::string_view text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

std::string administratorShellScript(std::string_view command) {
    return "do shell script \"" + appleScriptStringContents(command) +
           "\" with administrator privileges";
}

} // namespace quellora
