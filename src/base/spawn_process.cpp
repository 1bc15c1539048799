#include "base/spawn_process.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

extern char** environ;

namespace quellora {
namespace {

std::vector<char*> pointers(const std::vector<std::string>& strings) {
    std::vector<char*> vector;
    for (const auto& string : strings) {
        vector.push_back(const_cast<char*>(string.c_str()));
    }
    vector.push_back(nullptr);
    return vector;
}

[[noreturn]] void reportAndExit(int reportFd, int error) {
    [[maybe_unused]] const auto ignored = ::write(reportFd, &error, sizeof error);
    ::_exit(127);
}

// What the child holds, all of it made before fork.
struct Prepared {
    const SpawnRequest& request;
    char* const* argv;
    char* const* environment;
    int* parked;    // one slot per entry of request.descriptors
    int firstOther; // the lowest number the child's descriptors leave free
    pid_t parent;
    int reportFd;
};

// In the child, up to exec; async-signal-safe calls only.
[[noreturn]] void becomeProgram(const Prepared& child) {
    const auto& request = child.request;
    if (request.newSession && ::setsid() < 0) {
        reportAndExit(child.reportFd, errno);
    }
    if (request.orphan) {
        const pid_t grandchild = ::fork();
        if (grandchild < 0) {
            reportAndExit(child.reportFd, errno);
        }
        if (grandchild > 0) {
            ::_exit(0);
        }
    }
    if (request.dieWithParent) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != child.parent) {
            ::_exit(127); // the parent is gone already; nobody reads the report
        }
    }
    if (request.resetSignals) {
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        struct sigaction byDefault {};
        byDefault.sa_handler = SIG_DFL;
        for (int signal = 1; signal < NSIG; ++signal) {
            ::sigaction(signal, &byDefault, nullptr); // some refuse, harmlessly
        }
    }
    // Out of the way first, above every target, so that no target number
    // overwrites a source that is still to be handed on.
    const auto count = request.descriptors.size();
    for (std::size_t i = 0; i < count; ++i) {
        child.parked[i] = ::fcntl(request.descriptors[i].second, F_DUPFD_CLOEXEC, child.firstOther);
        if (child.parked[i] < 0) {
            reportAndExit(child.reportFd, errno);
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (::dup2(child.parked[i], request.descriptors[i].first) < 0) { // clears close-on-exec
            reportAndExit(child.reportFd, errno);
        }
        ::close(child.parked[i]);
    }
    if (request.prepareChild != nullptr) {
        if (const int error = request.prepareChild(); error != 0) {
            reportAndExit(child.reportFd, error);
        }
    }
    // Only marked: the report descriptor must stay open until exec.
    if (request.closeOtherDescriptors &&
        ::close_range(static_cast<unsigned>(child.firstOther), ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
        reportAndExit(child.reportFd, errno);
    }
    ::execve(request.program.c_str(), child.argv,
             child.environment != nullptr ? child.environment : environ);
    reportAndExit(child.reportFd, errno);
}

// The report pipe's write end closes at a successful exec (close-on-exec),
// so reading it tells whether the program started: no bytes, or an errno.
int readReport(int fd) {
    int error = 0;
    ssize_t count;
    do {
        count = ::read(fd, &error, sizeof error);
    } while (count < 0 && errno == EINTR);
    ::close(fd);
    return count == sizeof error ? error : 0;
}

int waitStatus(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

} // namespace

SpawnResult spawnProcess(const SpawnRequest& request) {
    if (request.arguments.empty()) {
        return {-1, EINVAL};
    }
    const auto argv = pointers(request.arguments);
    std::vector<char*> environment;
    if (request.environment) {
        environment = pointers(*request.environment);
    }
    int firstOther = 3;
    for (const auto& [target, source] : request.descriptors) {
        firstOther = std::max(firstOther, target + 1);
    }
    std::vector<int> parked(request.descriptors.size(), -1);
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        return {-1, errno};
    }
    // Above every number the child's descriptors take, so that none replaces it.
    if (report[1] < firstOther) {
        const int moved = ::fcntl(report[1], F_DUPFD_CLOEXEC, firstOther);
        const int error = errno;
        ::close(report[1]);
        if (moved < 0) {
            ::close(report[0]);
            return {-1, error};
        }
        report[1] = moved;
    }
    const Prepared child{
        request,       argv.data(), request.environment ? environment.data() : nullptr,
        parked.data(), firstOther,  ::getpid(),
        report[1]};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(report[0]);
        becomeProgram(child);
    }
    const int forkError = errno;
    ::close(report[1]);
    if (pid < 0) {
        ::close(report[0]);
        return {-1, forkError};
    }
    int error = readReport(report[0]);
    if (request.orphan) {
        const int status = waitStatus(pid);
        if (error == 0 && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
            error = ECHILD;
        }
        return {error == 0 ? 0 : -1, error};
    }
    if (error != 0) {
        waitStatus(pid);
        return {-1, error};
    }
    return {pid, 0};
}

} // namespace quellora
