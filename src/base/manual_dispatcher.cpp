#include "base/manual_dispatcher.h"

#include <algorithm>

namespace quellora {

Dispatcher::TimePoint ManualDispatcher::now() const {
    const std::scoped_lock lock(mutex_);
    return now_;
}

std::shared_ptr<WorkItem> ManualDispatcher::postAfter(Duration delay, std::function<void()> work) {
    auto item = std::make_shared<WorkItem>(std::move(work));
    const std::scoped_lock lock(mutex_);
    queue_.push_back({now_ + std::max(delay, Duration::zero()), nextSequence_++, item});
    return item;
}

bool ManualDispatcher::takeNextDue(TimePoint limit, Entry& entry) {
    const std::scoped_lock lock(mutex_);
    const auto earliest =
        std::min_element(queue_.begin(), queue_.end(), [](const Entry& a, const Entry& b) {
            return a.due != b.due ? a.due < b.due : a.sequence < b.sequence;
        });
    if (earliest == queue_.end() || earliest->due > limit) {
        now_ = std::max(now_, limit);
        return false;
    }
    entry = *earliest;
    queue_.erase(earliest);
    now_ = std::max(now_, entry.due);
    return true;
}

void ManualDispatcher::advance(Duration duration) {
    const auto limit = now() + std::max(duration, Duration::zero());
    Entry entry;
    while (takeNextDue(limit, entry)) {
        entry.item->perform();
    }
}

std::size_t ManualDispatcher::pendingCount() const {
    const std::scoped_lock lock(mutex_);
    return queue_.size();
}

} // namespace quellora
