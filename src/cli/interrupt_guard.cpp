#include "cli/interrupt_guard.h"

#include <atomic>

namespace quellora {
namespace {

// Lock-free, so the handler may touch it; atomic, because the signal may
// arrive on any of the job's threads.
std::atomic<bool> interruptRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void requestInterrupt(int) {
    interruptRequested.store(true, std::memory_order_relaxed);
}

} // namespace

InterruptGuard::InterruptGuard() {
    interruptRequested.store(false, std::memory_order_relaxed);
    struct sigaction action {};
    action.sa_handler = requestInterrupt;
    sigemptyset(&action.sa_mask);
    // Restarting keeps file reads and writes from failing with EINTR; the
    // flag is polled between blocks anyway.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previousInterrupt);
    sigaction(SIGTERM, &action, &previousTerminate);
}

InterruptGuard::~InterruptGuard() {
    sigaction(SIGINT, &previousInterrupt, nullptr);
    sigaction(SIGTERM, &previousTerminate, nullptr);
}

bool InterruptGuard::interrupted() const {
    return interruptRequested.load(std::memory_order_relaxed);
}

} // namespace quellora
