#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quellora {

// `text` broken at spaces into lines of at most `width` columns, each line
// after the first indented by `indent` spaces, ending with a newline. Runs of
// spaces before the first break (the padding of an option column) are kept;
// a word longer than a line stands on a line of its own.
std::string hangingIndent(std::string_view text, std::size_t indent, std::size_t width);

} // namespace quellora
