// Writes the manual page and the bash completion from the help texts at build
// time, so that neither can drift from what `--help` prints. Never installed.

#include "cli/bash_completion.h"
#include "cli/command_reference.h"
#include "cli/manual_page.h"

#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

namespace {

constexpr const char* usage = "usage: quellora-write-docs manual VERSION DATE OUTPUT\n"
                              "       quellora-write-docs bash-completion OUTPUT\n";

int writeFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file) {
        std::cerr << "quellora-write-docs: cannot write " << path << '\n';
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string_view kind = argc > 1 ? argv[1] : "";
    try {
        const auto& program = quellora::commandReference();
        if (kind == "manual" && argc == 5) {
            return writeFile(argv[4], quellora::formatManualPage(program, argv[2], argv[3]));
        }
        if (kind == "bash-completion" && argc == 3) {
            return writeFile(argv[2], quellora::formatBashCompletion(program));
        }
    } catch (const std::exception& error) {
        std::cerr << "quellora-write-docs: " << error.what() << '\n';
        return 1;
    }
    std::cerr << usage;
    return 2;
}
