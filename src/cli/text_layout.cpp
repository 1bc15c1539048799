#include "cli/text_layout.h"

namespace quellora {

std::string hangingIndent(std::string_view text, std::size_t indent, std::size_t width) {
    std::string laidOut;
    std::string_view rest = text;
    std::string prefix;
    while (prefix.size() + rest.size() > width) {
        const auto room = width - std::min(width, prefix.size());
        // Never break inside the leading spaces: that would leave an empty line.
        const auto firstWord = rest.find_first_not_of(' ');
        auto cut = rest.rfind(' ', room);
        if (cut == std::string_view::npos || cut < firstWord) {
            cut = rest.find(' ', room);
            if (cut == std::string_view::npos) {
                break;
            }
        }
        laidOut += prefix;
        laidOut += rest.substr(0, cut);
        laidOut += '\n';
        const auto next = rest.find_first_not_of(' ', cut);
        rest = next == std::string_view::npos ? std::string_view{} : rest.substr(next);
        prefix.assign(indent, ' ');
    }
    if (!rest.empty() || laidOut.empty()) {
        laidOut += prefix;
        laidOut += rest;
        laidOut += '\n';
    }
    return laidOut;
}

} // namespace quellora
