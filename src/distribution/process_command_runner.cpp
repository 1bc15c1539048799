#include "distribution/command_runner.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>

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

[[noreturn]] void reportAndExit(int reportFd, int error) {
    [[maybe_unused]] const auto ignored = ::write(reportFd, &error, sizeof error);
    ::_exit(127);
}

// In the child: exec, with `environment` when given, or report errno through
// `reportFd` and exit.
[[noreturn]] void execOrReport(char* const* argv, char* const* environment, int reportFd) {
    if (environment != nullptr) {
        ::execve(argv[0], argv, environment);
    } else {
        ::execv(argv[0], argv);
    }
    reportAndExit(reportFd, errno);
}

struct DefaultLimit {
    int resource;
    rlimit value;
};

// What the kernel starts the first process with. The process and pending
// signal counts are left alone: their defaults depend on the machine's
// memory, and root is not held to the process count anyway.
constexpr rlim_t unlimited = RLIM_INFINITY;
constexpr std::array<DefaultLimit, 14> defaultLimits{{
    {RLIMIT_CPU, {unlimited, unlimited}},
    {RLIMIT_FSIZE, {unlimited, unlimited}},
    {RLIMIT_DATA, {unlimited, unlimited}},
    {RLIMIT_STACK, {8 * 1024 * 1024, unlimited}},
    {RLIMIT_CORE, {0, unlimited}},
    {RLIMIT_RSS, {unlimited, unlimited}},
    {RLIMIT_NOFILE, {1024, 4096}},
    {RLIMIT_MEMLOCK, {8 * 1024 * 1024, 8 * 1024 * 1024}},
    {RLIMIT_AS, {unlimited, unlimited}},
    {RLIMIT_LOCKS, {unlimited, unlimited}},
    {RLIMIT_MSGQUEUE, {819200, 819200}},
    {RLIMIT_NICE, {0, 0}},
    {RLIMIT_RTPRIO, {0, 0}},
    {RLIMIT_RTTIME, {unlimited, unlimited}},
}};

// In the child, before exec: everything runDetachedFromCaller promises but
// the environment. Descriptors above 2 are only marked close-on-exec, so
// that `reportFd` can still tell of a failed exec.
void detachFromCaller(int reportFd) {
    if (::setsid() < 0) {
        reportAndExit(reportFd, errno);
    }
    const int nothing = ::open("/dev/null", O_RDONLY);
    if (nothing < 0 || ::dup2(nothing, STDIN_FILENO) < 0) {
        reportAndExit(reportFd, errno);
    }
    if (nothing != STDIN_FILENO) {
        ::close(nothing);
    }
    // Signals the caller blocked or ignored would stay so through exec; an
    // ignored SIGCHLD would even keep the package tools from waiting for
    // their children.
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) {
        ::sigaction(signal, &byDefault, nullptr); // SIGKILL and SIGSTOP refuse, harmlessly
    }
    for (const auto& limit : defaultLimits) {
        if (::setrlimit(limit.resource, &limit.value) == 0) {
            continue;
        }
        // Only root may raise a hard limit; anyone else comes as close as it may.
        rlimit closest{};
        if (::getrlimit(limit.resource, &closest) != 0) {
            reportAndExit(reportFd, errno);
        }
        closest.rlim_cur = std::min(limit.value.rlim_cur, closest.rlim_max);
        if (::setrlimit(limit.resource, &closest) != 0) {
            reportAndExit(reportFd, errno);
        }
    }
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
        reportAndExit(reportFd, errno);
    }
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

// How a child starts: as this process's child, or detached from the caller
// with exactly this environment.
struct ChildSetup {
    const std::vector<std::string>* detachedEnvironment = nullptr;
};

// Runs and waits; with `output`, the child's standard output goes into it.
int runAndWait(const std::vector<std::string>& arguments, std::string* output, std::size_t maxBytes,
               ChildSetup setup = {}) {
    if (arguments.empty()) {
        return -1;
    }
    auto argv = argumentVector(arguments);
    std::vector<char*> environment;
    if (setup.detachedEnvironment != nullptr) {
        environment = argumentVector(*setup.detachedEnvironment);
    }
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
        if (setup.detachedEnvironment != nullptr) {
            detachFromCaller(report[1]);
        }
        execOrReport(argv.data(), environment.empty() ? nullptr : environment.data(), report[1]);
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

int runDetachedFromCaller(const std::vector<std::string>& arguments,
                          const std::vector<std::string>& environment) {
    return runAndWait(arguments, nullptr, 0, {&environment});
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
            execOrReport(argv.data(), nullptr, report[1]);
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
