#pragma once

namespace quellora {

// When to retry a failed pipeline build and when to tell the user: attempts
// count from 1; the first two fail silently and retry quickly, every later
// one is reported and retried at a calmer pace.
struct PipelineRetry {
    int attemptsBeforeReporting = 3;
    double settleDelay = 0.4; // s, also the wait between stability checks
    double idleDelay = 5.0;   // s

    bool shouldReport(int attempt) const { return attempt >= attemptsBeforeReporting; }
    double delay(int attempt) const {
        return attempt < attemptsBeforeReporting ? settleDelay : idleDelay;
    }
};

} // namespace quellora
