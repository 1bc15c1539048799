#pragma once

#include "cli/console_streams.h"

#include <string>
#include <vector>

namespace quellora {

// What the `quellora` executable reaches of `quellora process`, which lives
// in a module of its own with libsndfile and its codecs (see module_loader.h).
struct ProcessModule {
    static constexpr const char* fileName = "quellora-process.so";

    // The version the module was built as; it must be the executable's.
    const char* version;
    // `quellora process ARGS`; returns the exit status.
    int (*runProcessCommand)(const std::vector<std::string>& args, const ConsoleStreams& console);
};

} // namespace quellora
