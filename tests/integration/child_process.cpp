#include "child_process.h"

#include "base/spawn_process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <utility>

namespace quellora::integration {
namespace {

using Clock = std::chrono::steady_clock;

std::runtime_error systemError(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

std::filesystem::path findExecutable(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return name;
    }
    const char* path = std::getenv("PATH");
    std::string_view directories = path != nullptr ? path : "/usr/bin:/bin";
    while (!directories.empty()) {
        const auto colon = directories.find(':');
        const auto directory = directories.substr(0, colon);
        const auto candidate = std::filesystem::path(directory) / name;
        if (!directory.empty() && ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        directories = colon == std::string_view::npos ? "" : directories.substr(colon + 1);
    }
    throw std::runtime_error("cannot find the program \"" + name + "\" on the PATH");
}

// Reads what is there without blocking; closes the pipe at its end.
void drain(int& fd, std::string& into) {
    char buffer[4096];
    while (fd >= 0) {
        const auto count = ::read(fd, buffer, sizeof buffer);
        if (count > 0) {
            into.append(buffer, static_cast<std::size_t>(count));
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else {
            if (count == 0 || errno != EAGAIN) {
                ::close(fd);
                fd = -1;
            }
            return;
        }
    }
}

} // namespace

bool waitUntil(const std::function<bool()>& condition, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(milliseconds(10));
    }
    return true;
}

ChildProcess ChildProcess::start(const std::vector<std::string>& command, const Options& options) {
    if (command.empty()) {
        throw std::invalid_argument("no command to start");
    }
    SpawnRequest request;
    request.program = findExecutable(command.front());
    request.arguments = command;
    const int nullFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    int outputEnds[2] = {-1, -1};
    int errorEnds[2] = {-1, -1};
    int logFd = -1;
    const auto closeAll = [&] {
        for (const int fd : {nullFd, logFd, outputEnds[1], errorEnds[1]}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    };
    if (nullFd < 0) {
        throw systemError("cannot open /dev/null");
    }
    if (options.logFile.empty()) {
        if (::pipe2(outputEnds, O_CLOEXEC) != 0 || ::pipe2(errorEnds, O_CLOEXEC) != 0) {
            closeAll();
            throw systemError("cannot create pipes for " + command.front());
        }
    } else {
        logFd = ::open(options.logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (logFd < 0) {
            closeAll();
            throw systemError("cannot open " + options.logFile.string());
        }
    }
    request.descriptors = {{STDIN_FILENO, nullFd},
                           {STDOUT_FILENO, logFd >= 0 ? logFd : outputEnds[1]},
                           {STDERR_FILENO, logFd >= 0 ? logFd : errorEnds[1]}};
    request.descriptors.insert(request.descriptors.end(), options.passDescriptors.begin(),
                               options.passDescriptors.end());
    request.closeOtherDescriptors = true;
    request.dieWithParent = true;
    request.resetSignals = true;
    const auto spawned = spawnProcess(request);
    closeAll();

    ChildProcess child;
    child.outputPipe_ = outputEnds[0];
    child.errorPipe_ = errorEnds[0];
    if (!spawned.started()) {
        errno = spawned.error;
        throw systemError("cannot start " + command.front());
    }
    child.pid_ = spawned.pid;
    for (const int fd : {child.outputPipe_, child.errorPipe_}) {
        if (fd >= 0) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        }
    }
    return child;
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1))
    , outputPipe_(std::exchange(other.outputPipe_, -1))
    , errorPipe_(std::exchange(other.errorPipe_, -1))
    , output_(std::move(other.output_))
    , errors_(std::move(other.errors_))
    , exitStatus_(std::exchange(other.exitStatus_, std::nullopt))
    , terminatingSignal_(std::exchange(other.terminatingSignal_, std::nullopt)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        if (pid_ > 0) {
            stop();
        }
        closePipes();
        pid_ = std::exchange(other.pid_, -1);
        outputPipe_ = std::exchange(other.outputPipe_, -1);
        errorPipe_ = std::exchange(other.errorPipe_, -1);
        output_ = std::move(other.output_);
        errors_ = std::move(other.errors_);
        exitStatus_ = std::exchange(other.exitStatus_, std::nullopt);
        terminatingSignal_ = std::exchange(other.terminatingSignal_, std::nullopt);
    }
    return *this;
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        stop();
    }
    closePipes();
}

std::string commandLine(const std::vector<std::string>& command) {
    std::string line;
    for (const auto& argument : command) {
        line += (line.empty() ? "" : " ") + argument;
    }
    return line;
}

void ChildProcess::reap(int waitStatus) {
    exitStatus_ = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
    if (WIFSIGNALED(waitStatus)) {
        terminatingSignal_ = WTERMSIG(waitStatus);
    }
}

bool ChildProcess::isRunning() {
    if (pid_ <= 0 || exitStatus_) {
        return false;
    }
    int status = 0;
    const auto result = ::waitpid(pid_, &status, WNOHANG);
    if (result == pid_) {
        reap(status);
        return false;
    }
    return result == 0;
}

std::optional<int> ChildProcess::exitStatus() {
    isRunning();
    return exitStatus_;
}

std::optional<int> ChildProcess::terminatingSignal() {
    isRunning();
    return terminatingSignal_;
}

std::optional<int> ChildProcess::waitForExit(milliseconds timeout) {
    waitUntil(
        [&] {
            drainPipes();
            return !isRunning();
        },
        timeout);
    drainPipes();
    return exitStatus_;
}

void ChildProcess::sendSignal(int signal) {
    if (isRunning()) {
        ::kill(pid_, signal);
    }
}

int ChildProcess::stop(milliseconds grace) {
    if (isRunning()) {
        ::kill(pid_, SIGTERM);
        if (!waitForExit(grace)) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            reap(status);
        }
    }
    drainPipes();
    return exitStatus_.value_or(-1);
}

void ChildProcess::drainPipes() {
    drain(outputPipe_, output_);
    drain(errorPipe_, errors_);
}

void ChildProcess::closePipes() {
    for (int* fd : {&outputPipe_, &errorPipe_}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

const std::string& ChildProcess::output() {
    drainPipes();
    return output_;
}

const std::string& ChildProcess::errors() {
    drainPipes();
    return errors_;
}

bool ChildProcess::waitForOutput(std::string_view text, milliseconds timeout) {
    const auto said = [&] {
        return output().find(text) != std::string::npos;
    };
    waitUntil([&] { return said() || outputPipe_ < 0; }, timeout);
    return said();
}

CommandResult runCommand(const std::vector<std::string>& command, milliseconds timeout) {
    auto child = ChildProcess::start(command);
    const auto status = child.waitForExit(timeout);
    if (!status) {
        child.stop(milliseconds(500));
        throw CommandTimedOut("\"" + commandLine(command) + "\" did not finish within " +
                              std::to_string(timeout.count()) + " ms");
    }
    return {*status, child.output(), child.errors()};
}

std::string runChecked(const std::vector<std::string>& command, milliseconds timeout) {
    auto result = runCommand(command, timeout);
    if (result.exitStatus != 0) {
        throw std::runtime_error("\"" + commandLine(command) + "\" failed with status " +
                                 std::to_string(result.exitStatus) + ": " + result.errors +
                                 result.output);
    }
    return std::move(result.output);
}

} // namespace quellora::integration
