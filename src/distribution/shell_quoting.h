#pragma once

#include <string>
#include <string_view>

namespace quellora {

// One word for the POSIX shell, whatever it contains: the text in single
// quotes, each embedded single quote written as '\''. Nothing inside single
// quotes is special to the shell, so `$`, backquotes, `"` and `\` stay literal.
std::string shellQuote(std::string_view text);

} // namespace quellora
