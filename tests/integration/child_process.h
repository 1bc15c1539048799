#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quellora::integration {

using std::chrono::milliseconds;

// Polls `condition` every few milliseconds until it holds or `timeout` has
// passed; returns whether it held. For conditions on other processes, which
// cannot notify this one.
bool waitUntil(const std::function<bool()>& condition, milliseconds timeout);

// A program started by a test, with the test process's environment as it is
// at the start. Its standard output and error are either captured (read them
// with output() and errors(); a chatty child blocks once the pipe is full
// unless the test keeps reading) or appended to a log file. The child is
// killed when this process dies (even by a crash), and stopped when the
// object is destroyed.
class ChildProcess {
public:
    struct Options {
        // Empty: capture both streams. Otherwise both go to the end of this file.
        std::filesystem::path logFile;
        // Descriptors of this process handed to the child under other numbers
        // (child number → descriptor here), e.g. for a daemon's --print-address.
        std::map<int, int> passDescriptors;
    };

    // Throws std::runtime_error when the program cannot be found or started.
    static ChildProcess start(const std::vector<std::string>& command, const Options& options);
    static ChildProcess start(const std::vector<std::string>& command) {
        return start(command, Options{});
    }

    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    pid_t pid() const { return pid_; }

    bool isRunning();
    // The exit code, or 128 + the signal that ended it; nothing while it runs.
    std::optional<int> exitStatus();
    // The signal that ended it; nothing while it runs or after a normal exit.
    std::optional<int> terminatingSignal();
    std::optional<int> waitForExit(milliseconds timeout);
    void sendSignal(int signal);
    // SIGTERM, then SIGKILL if it has not exited after `grace`; returns the
    // exit status. Does nothing more for a child that has already exited.
    int stop(milliseconds grace = milliseconds(3000));

    // What the child wrote so far (captured streams only).
    const std::string& output();
    const std::string& errors();
    // Waits until the captured standard output contains `text`.
    bool waitForOutput(std::string_view text, milliseconds timeout);

private:
    ChildProcess() = default;
    void drainPipes();
    void reap(int waitStatus);
    void closePipes();

    pid_t pid_ = -1;
    int outputPipe_ = -1;
    int errorPipe_ = -1;
    std::string output_;
    std::string errors_;
    std::optional<int> exitStatus_;
    std::optional<int> terminatingSignal_;
};

// "pw-play --target speakers ...", for messages.
std::string commandLine(const std::vector<std::string>& command);

struct CommandResult {
    int exitStatus = -1;
    std::string output;
    std::string errors;
};

// A command that did not finish in time (and was killed).
struct CommandTimedOut : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Runs `command` to its end and returns what it printed. Throws
// CommandTimedOut if it does not finish within `timeout`.
CommandResult runCommand(const std::vector<std::string>& command,
                         milliseconds timeout = milliseconds(10000));
// The same, throwing std::runtime_error with its output unless it exits with 0.
std::string runChecked(const std::vector<std::string>& command,
                       milliseconds timeout = milliseconds(10000));

} // namespace quellora::integration
