#pragma once

#include "base/dispatcher.h"

#include <memory>

namespace quellora {

// The main queue on the Qt event loop of the thread that creates it (a
// QCoreApplication or QApplication must exist by then), on the real clock.
// Work may be posted from any thread; it runs on that thread, in due order.
// Destroying the dispatcher drops work that has not run.
class QtDispatcher final : public Dispatcher {
public:
    QtDispatcher();
    ~QtDispatcher() override;
    QtDispatcher(const QtDispatcher&) = delete;
    QtDispatcher& operator=(const QtDispatcher&) = delete;

    TimePoint now() const override { return Clock::now(); }
    std::shared_ptr<WorkItem> postAfter(Duration delay, std::function<void()> work) override;
    // Timers with a leeway of at least 5 % of the interval ride on Qt's coarse
    // timers, which the event loop may batch; tighter ones, and timers started
    // from another thread, re-post themselves on the precise clock.
    std::unique_ptr<RepeatingTimer> startRepeatingTimer(Duration firstDelay, Duration interval,
                                                        Duration leeway,
                                                        std::function<void()> tick) override;
    // On the dispatcher's thread, processes its events until `duration` has
    // passed or the application quits; elsewhere it only waits. For driving
    // the loop from outside its work (tests); work never waits this way.
    void runFor(Duration duration);

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

} // namespace quellora
