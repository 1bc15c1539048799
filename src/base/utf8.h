#pragma once

#include <string>
#include <string_view>

namespace quellora {

// `text` with every byte that does not belong to well-formed UTF-8 (a stray
// continuation byte, a cut-off or overlong sequence, a surrogate, a code
// point beyond U+10FFFF) replaced by U+FFFD. Names that other programs give
// (a binary's file name may be Latin-1) must not break what only takes UTF-8:
// the session bus refuses a whole message for one such string.
std::string validUtf8(std::string_view text);

} // namespace quellora
