#pragma once

#include "distribution/command_runner.h"

#include <filesystem>
#include <string>
#include <vector>

namespace quellora {

// Runs one program as root, behind the administrator's authorisation.
class PrivilegedRunner {
public:
    static constexpr int promptDismissed = 126;
    static constexpr int notAuthorised = 127;

    virtual ~PrivilegedRunner() = default;

    // The program's exit status and the start of its standard output; or
    // promptDismissed, notAuthorised, or -1 when it could not be started.
    // Blocks: call it from a worker thread. Throws std::runtime_error when
    // the program must not be run as root at all.
    virtual CommandOutput run(const std::filesystem::path& program,
                              const std::vector<std::string>& arguments) = 0;
};

// pkexec, whose prompt names the polkit action installed for the program.
// Refuses a program that someone other than root could have changed, since
// whatever is there would run as root.
class PkexecRunner final : public PrivilegedRunner {
public:
    CommandOutput run(const std::filesystem::path& program,
                      const std::vector<std::string>& arguments) override;
};

} // namespace quellora
