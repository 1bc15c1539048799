#pragma once

#include "base/dispatcher.h"

#include <cstdint>
#include <mutex>
#include <vector>

namespace quellora {

// A main queue on virtual time, for tests: nothing runs until the test
// advances the clock, and then everything due runs in order, on the test's
// thread. Work may be posted from any thread.
class ManualDispatcher final : public Dispatcher {
public:
    TimePoint now() const override;
    std::shared_ptr<WorkItem> postAfter(Duration delay, std::function<void()> work) override;

    // Advances virtual time by `duration`, running due work; may be called
    // from inside running work (the nested wait of code on the queue).
    void advance(Duration duration);
    // Runs work that is due now (including work it posts for now).
    void runUntilIdle() { advance(Duration::zero()); }

    // Items queued and not yet run, cancelled ones included.
    std::size_t pendingCount() const;

private:
    struct Entry {
        TimePoint due;
        std::uint64_t sequence;
        std::shared_ptr<WorkItem> item;
    };

    bool takeNextDue(TimePoint limit, Entry& entry);

    mutable std::mutex mutex_;
    TimePoint now_{};
    std::uint64_t nextSequence_ = 0;
    std::vector<Entry> queue_;
};

} // namespace quellora
