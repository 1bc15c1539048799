// quellora-demo-clip OUTPUT.wav [SECONDS]: writes the demonstration
// recording the build ships beside the program.

#include "cli/command_error.h"
#include "cli/demo_clip.h"
#include "cli/process_options.h"

#include <iostream>
#include <string_view>

int main(int argc, char** argv) {
    using namespace quellora;
    if (argc < 2 || argc > 3) {
        std::cerr << "usage: quellora-demo-clip OUTPUT.wav [SECONDS]\n";
        return static_cast<int>(ExitStatus::badInput);
    }
    double seconds = 20.0;
    if (argc == 3) {
        const auto parsed = parseFiniteNumber(argv[2]);
        if (!parsed || *parsed <= 0.0f || *parsed > 3600.0f) {
            std::cerr << "quellora-demo-clip: SECONDS must be a number above 0 and at most 3600\n";
            return static_cast<int>(ExitStatus::badInput);
        }
        seconds = *parsed;
    }
    try {
        writeDemoClip(argv[1], seconds);
    } catch (const CommandError& error) {
        std::cerr << "quellora-demo-clip: " << error.what() << '\n';
        return static_cast<int>(error.status());
    }
    return static_cast<int>(ExitStatus::success);
}
