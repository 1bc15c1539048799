#include "base/thread_dispatcher.h"

#include <algorithm>

namespace quellora {
namespace {

template <typename Entry>
typename std::vector<Entry>::iterator earliest(std::vector<Entry>& queue) {
    return std::min_element(queue.begin(), queue.end(), [](const Entry& a, const Entry& b) {
        return a.due != b.due ? a.due < b.due : a.sequence < b.sequence;
    });
}

} // namespace

ThreadDispatcher::ThreadDispatcher()
    : thread_([this] { run(); }) {}

ThreadDispatcher::~ThreadDispatcher() {
    {
        const std::scoped_lock lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

std::shared_ptr<WorkItem> ThreadDispatcher::postAfter(Duration delay, std::function<void()> work) {
    auto item = std::make_shared<WorkItem>(std::move(work));
    {
        const std::scoped_lock lock(mutex_);
        queue_.push_back({Clock::now() + std::max(delay, Duration::zero()), nextSequence_++, item});
    }
    wake_.notify_all();
    return item;
}

bool ThreadDispatcher::runOneDue(std::unique_lock<std::mutex>& lock) {
    const auto next = earliest(queue_);
    if (next == queue_.end() || next->due > Clock::now()) {
        return false;
    }
    const auto item = next->item;
    queue_.erase(next);
    lock.unlock();
    item->perform();
    lock.lock();
    return true;
}

void ThreadDispatcher::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (runOneDue(lock)) {
            continue;
        }
        const auto next = earliest(queue_);
        if (next == queue_.end()) {
            wake_.wait(lock);
        } else {
            // A copy: wait_until reads the time again after waking, and a post
            // while the lock is released may move the queue's entries.
            const auto due = next->due;
            wake_.wait_until(lock, due);
        }
    }
}

} // namespace quellora
