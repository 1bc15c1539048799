#include "cli/command_line.h"

#include <cstdio>
#include <string_view>

namespace quellora {

int runCommandLine(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: quellora process INPUT OUTPUT [options]\n", stderr);
        return 2;
    }
    const std::string_view command = argv[1];
    std::fprintf(stderr, "quellora: unknown command \"%.*s\"\n", static_cast<int>(command.size()),
                 command.data());
    return 2;
}

} // namespace quellora
