#pragma once

#include <ostream>

namespace quellora {

// Where a subcommand writes: its results to `out`, diagnostics and progress
// to `err`. Progress is drawn only on a terminal, and names others chose are
// shown escaped there, so the caller says which of them is one.
struct ConsoleStreams {
    std::ostream& out;
    std::ostream& err;
    bool errIsTerminal = false;
    bool outIsTerminal = false;
};

} // namespace quellora
