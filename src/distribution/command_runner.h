#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quellora {

// Starts other programs by argument vector, never through a shell string, so
// no argument is ever re-parsed. The first argument is the program's absolute
// path.
class CommandRunner {
public:
    virtual ~CommandRunner() = default;

    // Runs the command and waits for it: its exit status, 128 + the signal
    // number when a signal ended it, or -1 when it could not be started.
    // Blocks; call it from a worker thread.
    virtual int run(const std::vector<std::string>& arguments) = 0;

    // Starts the command in a session of its own and returns without waiting;
    // it outlives this process. False when it could not be started.
    virtual bool launchDetached(const std::vector<std::string>& arguments) = 0;
};

// The production runner: fork and exec.
class ProcessCommandRunner final : public CommandRunner {
public:
    int run(const std::vector<std::string>& arguments) override;
    bool launchDetached(const std::vector<std::string>& arguments) override;
};

struct CommandOutput {
    // As CommandRunner::run reports it.
    int status = -1;
    std::string output;
};

// Runs the command, waits for it and collects the first `maxBytes` of its
// standard output; anything beyond is read and dropped, so the command never
// blocks on a full pipe. Standard error stays this process's. Blocks.
CommandOutput runCollectingOutput(const std::vector<std::string>& arguments, std::size_t maxBytes);

// Runs the command for root on a user's behalf, sharing nothing with the
// user's session: standard input is /dev/null, it leads a session of its own
// (no controlling terminal, so the user's terminal can neither signal it nor
// answer its questions), its resource limits and signal dispositions are the
// system's defaults, it blocks no signal, it inherits no descriptor beyond
// standard output and error, and `environment`
// ("NAME=value" entries) is its whole environment. Waits, and reports as
// CommandRunner::run does.
int runDetachedFromCaller(const std::vector<std::string>& arguments,
                          const std::vector<std::string>& environment);

} // namespace quellora
