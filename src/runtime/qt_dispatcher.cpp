#include "runtime/qt_dispatcher.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace quellora {
namespace {

using Milliseconds = std::chrono::milliseconds;

// Coarse timers may come up to 5 % early or late; below this a delay gets a
// precise timer, which never fires early.
constexpr auto preciseTimerLimit = seconds(1.0);

Milliseconds wholeMillisecondsAtLeast(Dispatcher::Duration duration) {
    return std::max(std::chrono::ceil<Milliseconds>(duration), Milliseconds(1));
}

// A QTimer on the dispatcher's thread. The flag stops a tick whose timeout
// was already on its way when the timer was cancelled.
class QtRepeatingTimer final : public RepeatingTimer {
public:
    QtRepeatingTimer(QObject* context, Dispatcher::Duration firstDelay,
                     Dispatcher::Duration interval, std::function<void()> tick)
        : timer_(new QTimer(context)) {
        const auto intervalMs = wholeMillisecondsAtLeast(interval);
        const auto firstMs =
            std::max(std::chrono::round<Milliseconds>(firstDelay), Milliseconds::zero());
        timer_->setTimerType(Qt::CoarseTimer);
        QObject::connect(timer_, &QTimer::timeout, context,
                         [timer = timer_, cancelled = cancelled_, intervalMs, firstMs, first = true,
                          tick = std::move(tick)]() mutable {
                             if (cancelled->load(std::memory_order_acquire)) {
                                 return;
                             }
                             if (std::exchange(first, false) && firstMs != intervalMs && timer) {
                                 timer->start(
                                     intervalMs); // restarts at the steady interval from now
                             }
                             tick();
                         });
        timer_->start(firstMs);
    }

    ~QtRepeatingTimer() override { cancel(); }

    void cancel() override {
        cancelled_->store(true, std::memory_order_release);
        if (!timer_) {
            return; // already cancelled, or the dispatcher has gone
        }
        // Possibly from inside the timer's own tick: deleted later, never
        // under its own signal.
        QPointer<QTimer> timer = std::exchange(timer_, nullptr);
        QMetaObject::invokeMethod(
            timer,
            [timer] {
                if (timer) {
                    timer->stop();
                    timer->deleteLater();
                }
            },
            QThread::currentThread() == timer->thread() ? Qt::DirectConnection
                                                        : Qt::QueuedConnection);
    }

private:
    QPointer<QTimer> timer_;
    std::shared_ptr<std::atomic<bool>> cancelled_ = std::make_shared<std::atomic<bool>>(false);
};

} // namespace

// Work waits in one queue in due order, posting order among equals, so
// that work whose time came while the loop was busy still runs after work
// due before it. One timer, on the dispatcher's thread, wakes the queue for
// the earliest.
struct QtDispatcher::Context {
    QObject object; // lives on the creating thread; the target of all wakes
    QTimer timer{&object};
    std::mutex mutex;
    std::map<std::pair<TimePoint, std::uint64_t>, std::shared_ptr<WorkItem>> pending;
    std::uint64_t posted = 0;
    bool wakeQueued = false; // a wake is on its way through the event loop

    Context() {
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &object, [this] { runDue(); });
    }

    bool isCurrentThread() const { return QThread::currentThread() == object.thread(); }

    void add(TimePoint due, std::shared_ptr<WorkItem> item) {
        const std::lock_guard lock(mutex);
        const bool earliest = pending.empty() || due < pending.begin()->first.first;
        pending.emplace(std::pair(due, posted++), std::move(item));
        if (earliest) {
            queueWake();
        }
    }

    // Always through the event loop, even on the dispatcher's own thread:
    // work posted for now runs after the caller returns. Mutex held.
    void queueWake() {
        if (!std::exchange(wakeQueued, true)) {
            QMetaObject::invokeMethod(
                &object, [this] { runDue(); }, Qt::QueuedConnection);
        }
    }

    // Runs what was due when it started, then lets the event loop go on
    // until the next is due: work that keeps posting more never starves it.
    void runDue() {
        const auto start = Clock::now();
        std::unique_lock lock(mutex);
        wakeQueued = false;
        const auto postedBefore = posted;
        while (!pending.empty() && pending.begin()->first.first <= start &&
               pending.begin()->first.second < postedBefore) {
            const auto item = std::move(pending.begin()->second);
            pending.erase(pending.begin());
            lock.unlock();
            item->perform();
            lock.lock();
        }
        if (pending.empty()) {
            return;
        }
        const auto remaining = pending.begin()->first.first - Clock::now();
        if (remaining <= Duration::zero()) {
            queueWake();
            return;
        }
        // A coarse timer that fires early only wakes the queue again.
        timer.setTimerType(remaining < preciseTimerLimit ? Qt::PreciseTimer : Qt::CoarseTimer);
        timer.start(wholeMillisecondsAtLeast(remaining));
    }
};

QtDispatcher::QtDispatcher()
    : context_(std::make_unique<Context>()) {}

QtDispatcher::~QtDispatcher() = default;

std::shared_ptr<WorkItem> QtDispatcher::postAfter(Duration delay, std::function<void()> work) {
    auto item = std::make_shared<WorkItem>(std::move(work));
    context_->add(now() + std::max(delay, Duration::zero()), item);
    return item;
}

std::unique_ptr<RepeatingTimer> QtDispatcher::startRepeatingTimer(Duration firstDelay,
                                                                  Duration interval,
                                                                  Duration leeway,
                                                                  std::function<void()> tick) {
    const bool coarseIsEnough = leeway * 20 >= interval;
    if (!coarseIsEnough || !context_->isCurrentThread()) {
        return Dispatcher::startRepeatingTimer(firstDelay, interval, leeway, std::move(tick));
    }
    return std::make_unique<QtRepeatingTimer>(&context_->object, firstDelay, interval,
                                              std::move(tick));
}

void QtDispatcher::runFor(Duration duration) {
    if (!context_->isCurrentThread()) {
        std::this_thread::sleep_for(duration);
        return;
    }
    if (duration <= Duration::zero()) {
        QCoreApplication::processEvents();
        return;
    }
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(wholeMillisecondsAtLeast(duration));
    loop.exec();
}

} // namespace quellora
