#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

namespace quellora {

// A unit of delayed work that can be cancelled until it runs. Cancelling is
// safe from any thread; a cancelled item's work never starts.
class WorkItem {
public:
    explicit WorkItem(std::function<void()> work)
        : work_(std::move(work)) {}

    void cancel() noexcept { cancelled_.store(true, std::memory_order_release); }
    bool isCancelled() const noexcept { return cancelled_.load(std::memory_order_acquire); }

    // Called by the dispatcher that owns the item.
    void perform() {
        if (!isCancelled()) {
            work_();
        }
    }

private:
    std::function<void()> work_;
    std::atomic<bool> cancelled_{false};
};

class Dispatcher;

// A timer that ticks on its dispatcher until cancelled or destroyed.
class RepeatingTimer {
public:
    virtual ~RepeatingTimer() = default;
    virtual void cancel() = 0;
};

// A serial queue of work: the main queue (all control of the model and the
// engine), or a background queue. `post` and `postAfter` may be called from
// any thread; the work runs on the dispatcher's own thread, in due order.
class Dispatcher {
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;
    using Duration = Clock::duration;

    virtual ~Dispatcher() = default;

    virtual TimePoint now() const = 0;

    // Runs `work` once, `delay` from now; the returned item cancels it.
    virtual std::shared_ptr<WorkItem> postAfter(Duration delay, std::function<void()> work) = 0;

    void post(std::function<void()> work) { postAfter(Duration::zero(), std::move(work)); }

    // Ticks first `firstDelay` from now, then every `interval` (measured from
    // the previous due time, so ticks do not drift). `leeway` is how late a
    // tick may come, so the platform can batch wake-ups.
    virtual std::unique_ptr<RepeatingTimer> startRepeatingTimer(Duration firstDelay,
                                                                Duration interval, Duration leeway,
                                                                std::function<void()> tick);
};

// Seconds as a dispatcher duration, for delays written the way people think of them.
constexpr Dispatcher::Duration seconds(double value) {
    return std::chrono::duration_cast<Dispatcher::Duration>(std::chrono::duration<double>(value));
}

} // namespace quellora
