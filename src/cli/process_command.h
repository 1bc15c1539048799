#pragma once

#include "cli/console_streams.h"

#include <string>
#include <vector>

namespace quellora {

// `quellora process INPUT OUTPUT [options]`: compresses a recording offline
// with the real-time compressor and reports the loudness before and after.
// `args` are the arguments after "process". Returns the exit status: 0 done,
// 1 the output could not be written, 2 unusable arguments or input, 130
// interrupted.
int runProcessCommand(const std::vector<std::string>& args, const ConsoleStreams& console);

} // namespace quellora
