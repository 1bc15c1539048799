#pragma once

#include <csignal>

namespace quellora {

// While it lives, SIGINT and SIGTERM only raise a flag, so that a long job
// can stop at a safe point and clean up after itself. The previous handlers
// come back when it is destroyed. One at a time per process.
class InterruptGuard {
public:
    InterruptGuard();
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    bool interrupted() const;

private:
    struct sigaction previousInterrupt {};
    struct sigaction previousTerminate {};
};

} // namespace quellora
