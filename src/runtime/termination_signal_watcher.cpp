#include "runtime/termination_signal_watcher.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <string>

namespace quellora {
namespace {

// The write end of the live watcher's pipe, -1 when there is none. Lock-free,
// so the signal handler may read it.
std::atomic<int> signalPipeWriteEnd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

constexpr int watchedSignals[] = {SIGINT, SIGTERM};

void writeSignalToPipe(int signal) {
    const int savedErrno = errno;
    const int fd = signalPipeWriteEnd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        const auto byte = static_cast<unsigned char>(signal);
        // A full pipe already holds a wake-up; the byte may be dropped.
        [[maybe_unused]] const auto written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

struct TerminationSignalWatcher::Pipe {
    int readEnd = -1;
    int writeEnd = -1;
    std::unique_ptr<QSocketNotifier> notifier;
    struct sigaction previous[std::size(watchedSignals)]{};

    ~Pipe() {
        notifier.reset();
        for (const int fd : {readEnd, writeEnd}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
};

TerminationSignalWatcher::TerminationSignalWatcher(std::function<void(int signal)> handler)
    : pipe_(std::make_unique<Pipe>()) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::runtime_error(std::string("cannot create the signal pipe: ") +
                                 std::strerror(errno));
    }
    pipe_->readEnd = fds[0];
    pipe_->writeEnd = fds[1];
    pipe_->notifier = std::make_unique<QSocketNotifier>(fds[0], QSocketNotifier::Read);
    QObject::connect(pipe_->notifier.get(), &QSocketNotifier::activated,
                     [readEnd = fds[0], handler = std::move(handler)] {
                         unsigned char received[16];
                         ssize_t count = 0;
                         while ((count = ::read(readEnd, received, sizeof received)) > 0) {
                             for (ssize_t index = 0; index < count; ++index) {
                                 handler(received[index]);
                             }
                         }
                     });

    signalPipeWriteEnd.store(fds[1], std::memory_order_relaxed);
    struct sigaction action {};
    action.sa_handler = writeSignalToPipe;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t index = 0; index < std::size(watchedSignals); ++index) {
        sigaction(watchedSignals[index], &action, &pipe_->previous[index]);
    }
}

TerminationSignalWatcher::~TerminationSignalWatcher() {
    for (std::size_t index = 0; index < std::size(watchedSignals); ++index) {
        sigaction(watchedSignals[index], &pipe_->previous[index], nullptr);
    }
    signalPipeWriteEnd.store(-1, std::memory_order_relaxed);
}

} // namespace quellora
