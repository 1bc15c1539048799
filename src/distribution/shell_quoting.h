#pragma once

#include <string>
#include <string_view>

namespace quellora {

// One word for the POSIX shell, whatever it contains: the text in single
// quotes, each embedded single quote written as '\''. Nothing inside single
// quotes is special to the shell, so `$`, backquotes, `"` and `\` stay literal.
std::string shellQuote(std::string_view text);

// The text inside an AppleScript string literal: backslash and double quote
// escaped with a backslash.
std::string appleScriptStringContents(std::string_view text);

// The AppleScript that runs `command` with administrator privileges:
// do shell script "<command>" with administrator privileges
std::string administratorShellScript(std::string_view command);

} // namespace quellora
