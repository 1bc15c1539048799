#include "distribution/privileged_runner.h"

#include "distribution/update_installation.h"

#include <stdexcept>

namespace quellora {

CommandOutput PkexecRunner::run(const std::filesystem::path& program,
                                const std::vector<std::string>& arguments) {
    if (const auto problem = changeableByOthersThanRoot(program)) {
        throw std::runtime_error("refusing to run it as root: " + *problem);
    }
    // A verdict line is all a program run this way has to say.
    constexpr std::size_t maxOutputBytes = 4096;
    std::vector<std::string> command{"/usr/bin/pkexec", program.string()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return runCollectingOutput(command, maxOutputBytes);
}

} // namespace quellora
