#include "base/spawn_process.h"
#include "distribution/command_runner.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace quellora {
namespace {

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

// In the child, before exec: the system's default limits.
int setDefaultLimits() {
    for (const auto& limit : defaultLimits) {
        if (::setrlimit(limit.resource, &limit.value) == 0) {
            continue;
        }
        // Only root may raise a hard limit; anyone else comes as close as it may.
        rlimit closest{};
        if (::getrlimit(limit.resource, &closest) != 0) {
            return errno;
        }
        closest.rlim_cur = std::min(limit.value.rlim_cur, closest.rlim_max);
        if (::setrlimit(limit.resource, &closest) != 0) {
            return errno;
        }
    }
    return 0;
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

SpawnRequest requestFor(const std::vector<std::string>& arguments) {
    SpawnRequest request;
    request.program = arguments.empty() ? std::string() : arguments.front();
    request.arguments = arguments;
    return request;
}

// Starts and waits: the exit status, or -1 when it did not start.
int runToEnd(const SpawnRequest& request) {
    const auto child = spawnProcess(request);
    return child.started() ? waitFor(child.pid) : -1;
}

} // namespace

int ProcessCommandRunner::run(const std::vector<std::string>& arguments) {
    return runToEnd(requestFor(arguments));
}

CommandOutput runCollectingOutput(const std::vector<std::string>& arguments, std::size_t maxBytes) {
    CommandOutput result;
    int outputPipe[2];
    if (::pipe2(outputPipe, O_CLOEXEC) != 0) {
        return result;
    }
    auto request = requestFor(arguments);
    request.descriptors = {{STDOUT_FILENO, outputPipe[1]}};
    const auto child = spawnProcess(request);
    ::close(outputPipe[1]);
    if (child.started()) {
        readAtMost(outputPipe[0], result.output, maxBytes);
        result.status = waitFor(child.pid);
    }
    ::close(outputPipe[0]);
    return result;
}

int runDetachedFromCaller(const std::vector<std::string>& arguments,
                          const std::vector<std::string>& environment) {
    const int nothing = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (nothing < 0) {
        return -1;
    }
    auto request = requestFor(arguments);
    request.environment = environment;
    request.descriptors = {{STDIN_FILENO, nothing}};
    request.closeOtherDescriptors = true;
    request.newSession = true;
    // An ignored SIGCHLD would even keep the package tools from waiting for
    // their children.
    request.resetSignals = true;
    request.prepareChild = setDefaultLimits;
    const int status = runToEnd(request);
    ::close(nothing);
    return status;
}

bool ProcessCommandRunner::launchDetached(const std::vector<std::string>& arguments) {
    auto request = requestFor(arguments);
    request.newSession = true;
    request.orphan = true;
    return spawnProcess(request).started();
}

} // namespace quellora
