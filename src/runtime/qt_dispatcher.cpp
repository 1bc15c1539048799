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
#include <thread>

namespace quellora {
namespace {

using Milliseconds = std::chrono::milliseconds;

// Coarse timers may come up to 5 % early or late; below this a delay gets a
// precise timer, which never fires early.
constexpr auto preciseTimerLimit = seconds(1.0);

Milliseconds wholeMillisecondsAtLeast(Dispatcher::Duration duration) {
    return std::max(std::chrono::ceil<Milliseconds>(duration), Milliseconds(1));
}

// Runs `item` once `due` has come, on `context`'s thread. A coarse timer that
// fires early arms a precise one for the rest, so work never starts before
// its time.
void runWhenDue(QObject* context, const std::shared_ptr<WorkItem>& item,
                Dispatcher::TimePoint due) {
    if (item->isCancelled()) {
        return;
    }
    const auto remaining = due - Dispatcher::Clock::now();
    if (remaining <= Dispatcher::Duration::zero()) {
        item->perform();
        return;
    }
    // A child of the context, so destroying the dispatcher drops the work.
    auto* timer = new QTimer(context);
    timer->setSingleShot(true);
    timer->setTimerType(remaining < preciseTimerLimit ? Qt::PreciseTimer : Qt::CoarseTimer);
    QObject::connect(timer, &QTimer::timeout, context, [context, timer, item, due] {
        timer->deleteLater();
        runWhenDue(context, item, due);
    });
    timer->start(wholeMillisecondsAtLeast(remaining));
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

struct QtDispatcher::Context {
    QObject object; // lives on the creating thread; the target of all posted work

    bool isCurrentThread() const { return QThread::currentThread() == object.thread(); }
};

QtDispatcher::QtDispatcher()
    : context_(std::make_unique<Context>()) {}

QtDispatcher::~QtDispatcher() = default;

std::shared_ptr<WorkItem> QtDispatcher::postAfter(Duration delay, std::function<void()> work) {
    auto item = std::make_shared<WorkItem>(std::move(work));
    const auto due = now() + std::max(delay, Duration::zero());
    QObject* context = &context_->object;
    // Always queued, even on the dispatcher's own thread: work posted for now
    // runs after the caller returns, in the order it was posted.
    QMetaObject::invokeMethod(
        context, [context, item, due] { runWhenDue(context, item, due); }, Qt::QueuedConnection);
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
