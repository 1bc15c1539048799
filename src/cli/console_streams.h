#pragma once

#include <ostream>

namespace quellora {

// Where a subcommand writes: its results to `out`, diagnostics and progress
// to `err`. Progress is drawn only on a terminal, so the caller says whether
// `err` is one.
struct ConsoleStreams {
    std::ostream& out;
    std::ostream& err;
    bool errIsTerminal = false;
};

} // namespace quellora
