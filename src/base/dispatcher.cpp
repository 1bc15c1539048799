#include "base/dispatcher.h"

#include <mutex>

namespace quellora {
namespace {

// Re-posts itself for each tick; the shared state lets a tick that is already
// queued see the cancellation.
class RepostingTimer final : public RepeatingTimer {
public:
    struct State {
        Dispatcher* dispatcher;
        Dispatcher::Duration interval;
        std::function<void()> tick;
        std::mutex mutex;
        std::shared_ptr<WorkItem> pending;
        Dispatcher::TimePoint due;
        bool cancelled = false;
    };

    explicit RepostingTimer(std::shared_ptr<State> state)
        : state_(std::move(state)) {}
    ~RepostingTimer() override { cancel(); }

    void cancel() override {
        const std::scoped_lock lock(state_->mutex);
        state_->cancelled = true;
        if (state_->pending) {
            state_->pending->cancel();
            state_->pending.reset();
        }
    }

    static void arm(const std::shared_ptr<State>& state) {
        const std::scoped_lock lock(state->mutex);
        if (state->cancelled) {
            return;
        }
        const auto now = state->dispatcher->now();
        const auto delay = state->due > now ? state->due - now : Dispatcher::Duration::zero();
        std::weak_ptr<State> weak = state;
        state->pending = state->dispatcher->postAfter(delay, [weak] {
            const auto strong = weak.lock();
            if (!strong) {
                return;
            }
            {
                const std::scoped_lock tickLock(strong->mutex);
                if (strong->cancelled) {
                    return;
                }
                strong->due += strong->interval;
            }
            strong->tick();
            arm(strong);
        });
    }

private:
    std::shared_ptr<State> state_;
};

} // namespace

std::unique_ptr<RepeatingTimer> Dispatcher::startRepeatingTimer(Duration firstDelay,
                                                                Duration interval, Duration,
                                                                std::function<void()> tick) {
    auto state = std::make_shared<RepostingTimer::State>();
    state->dispatcher = this;
    state->interval = interval;
    state->tick = std::move(tick);
    state->due = now() + firstDelay;
    RepostingTimer::arm(state);
    return std::make_unique<RepostingTimer>(std::move(state));
}

} // namespace quellora
