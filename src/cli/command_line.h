#pragma once

namespace quellora {

// Entry of the `quellora` executable: dispatches to the subcommands.
// Returns the process exit status.
int runCommandLine(int argc, char** argv);

} // namespace quellora
