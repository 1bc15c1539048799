#include "distribution/command_runner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace quellora {
namespace {

// Built before fork: between fork and exec the child of a threaded process
// may only make async-signal-safe calls.
std::vector<char*> argumentVector(const std::vector<std::string>& arguments) {
    std::vector<char*> vector;
    for (const auto& argument : arguments) {
        vector.push_back(const_cast<char*>(argument.c_str()));
    }
    vector.push_back(nullptr);
    return vector;
}

// In the child: exec, or report errno through `reportFd` and exit.
[[noreturn]] void execOrReport(char* const* argv, int reportFd) {
    ::execv(argv[0], argv);
    const int error = errno;
    [[maybe_unused]] const auto ignored = ::write(reportFd, &error, sizeof error);
    ::_exit(127);
}

// The pipe's write end closes at a successful exec (O_CLOEXEC), so reading
// it tells whether the program started: no bytes, or the child's errno.
bool execSucceeded(int readFd) {
    int error = 0;
    ssize_t count;
    do {
        count = ::read(readFd, &error, sizeof error);
    } while (count < 0 && errno == EINTR);
    ::close(readFd);
    return count == 0;
}

int waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// Reads until end of file, keeping the first `maxBytes`.
void readAtMost(int fd, std::string& into, std::size_t maxBytes) {
    char buffer[4096];
    for (;;) {
        const auto count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return;
        }
        const auto kept = std::min(static_cast<std::size_t>(count), maxBytes - into.size());
        into.append(buffer, kept);
    }
}

// Runs and waits; with `output`, the child's standard output goes into it.
int runAndWait(const std::vector<std::string>& arguments, std::string* output,
               std::size_t maxBytes) {
    if (arguments.empty()) {
        return -1;
    }
    auto argv = argumentVector(arguments);
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        return -1;
    }
    int outputPipe[2] = {-1, -1};
    if (output != nullptr && ::pipe2(outputPipe, O_CLOEXEC) != 0) {
        ::close(report[0]);
        ::close(report[1]);
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(report[0]);
        if (output != nullptr) {
            ::dup2(outputPipe[1], STDOUT_FILENO); // dup2 clears close-on-exec
        }
        execOrReport(argv.data(), report[1]);
    }
    ::close(report[1]);
    if (output != nullptr) {
        ::close(outputPipe[1]);
        if (pid >= 0) {
            readAtMost(outputPipe[0], *output, maxBytes);
        }
        ::close(outputPipe[0]);
    }
    if (pid < 0) {
        ::close(report[0]);
        return -1;
    }
    const bool started = execSucceeded(report[0]);
    const int status = waitFor(pid);
    return started ? status : -1;
}

} // namespace

int ProcessCommandRunner::run(const std::vector<std::string>& arguments) {
    return runAndWait(arguments, nullptr, 0);
}

CommandOutput runCollectingOutput(const std::vector<std::string>& arguments, std::size_t maxBytes) {
    CommandOutput result;
    result.status = runAndWait(arguments, &result.output, maxBytes);
    return result;
}

bool ProcessCommandRunner::launchDetached(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return false;
    }
    auto argv = argumentVector(arguments);
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        return false;
    }
    // Double fork: the intermediate child exits at once, so the program is
    // adopted by init and never lingers as our zombie.
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(report[0]);
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            execOrReport(argv.data(), report[1]);
        }
        ::_exit(grandchild < 0 ? 1 : 0);
    }
    ::close(report[1]);
    if (pid < 0) {
        ::close(report[0]);
        return false;
    }
    const bool intermediateOk = waitFor(pid) == 0;
    const bool started = execSucceeded(report[0]);
    return intermediateOk && started;
}

} // namespace quellora
