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

// `text` as it may be shown on a terminal: C0 controls and DEL written as
// "\x1B", C1 controls (U+0080 to U+009F) as "\u009B", and bytes that are not
// UTF-8 as "\xNN" (some terminals take a lone 0x9B for a control too). A
// name another program chose can then neither move the cursor, retitle the
// window, ring the bell nor hide what follows it.
std::string escapedControls(std::string_view text);

} // namespace quellora
