#pragma once

#include "base/dispatcher.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace quellora {

// A background queue on a thread of its own, on the real clock: serves the
// engine's diagnostics timers. Destroying it drops work that has not run.
class ThreadDispatcher final : public Dispatcher {
public:
    ThreadDispatcher();
    ~ThreadDispatcher() override;
    ThreadDispatcher(const ThreadDispatcher&) = delete;
    ThreadDispatcher& operator=(const ThreadDispatcher&) = delete;

    TimePoint now() const override { return Clock::now(); }
    std::shared_ptr<WorkItem> postAfter(Duration delay, std::function<void()> work) override;

private:
    struct Entry {
        TimePoint due;
        std::uint64_t sequence;
        std::shared_ptr<WorkItem> item;
    };

    void run();
    bool runOneDue(std::unique_lock<std::mutex>& lock);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Entry> queue_;
    std::uint64_t nextSequence_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace quellora
