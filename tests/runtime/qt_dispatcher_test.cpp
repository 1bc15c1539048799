#include "qt_event_loop_test.h"

#include <gmock/gmock.h>

#include <QThread>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quellora {
namespace {

using ::testing::ElementsAre;

class QtDispatcherTest : public QtEventLoopTest {
protected:
    // Records which work ran, in order, and says whether it ran too early.
    std::function<void()> note(std::string name, Dispatcher::Duration delay = {}) {
        const auto earliest = dispatcher.now() + delay;
        return [this, name = std::move(name), earliest] {
            ran.push_back(name);
            if (dispatcher.now() < earliest) {
                ADD_FAILURE() << name << " ran early";
            }
        };
    }

    std::vector<std::string> ran;
};

// Also when the loop was too busy to look until all of it was due.
TEST_F(QtDispatcherTest, RunsWorkInDueOrderAndNeverEarly) {
    for (const auto busy : {seconds(0.0), seconds(0.05)}) {
        ran.clear();
        dispatcher.postAfter(seconds(0.03), note("late", seconds(0.03)));
        dispatcher.post(note("first"));
        dispatcher.postAfter(seconds(0.01), note("soon", seconds(0.01)));
        dispatcher.post(note("second"));
        EXPECT_TRUE(ran.empty()) << "work posted on the dispatcher's thread runs after the caller";
        std::this_thread::sleep_for(busy);

        ASSERT_TRUE(runUntil([&] { return ran.size() == 4; }));
        EXPECT_THAT(ran, ElementsAre("first", "second", "soon", "late"));
    }
}

// Cancelled work, queued or on a timer, and work whose dispatcher is gone.
TEST_F(QtDispatcherTest, WorkCancelledOrLeftBehindNeverRuns) {
    dispatcher.postAfter(Dispatcher::Duration::zero(), note("queued"))->cancel();
    dispatcher.postAfter(seconds(0.01), note("timed"))->cancel();
    const auto cancelledLater = dispatcher.postAfter(seconds(0.02), note("cancelled later"));
    dispatcher.postAfter(seconds(0.005), [&] { cancelledLater->cancel(); });
    auto doomed = std::make_unique<QtDispatcher>();
    doomed->post(note("left queued"));
    doomed->postAfter(seconds(0.01), note("left timed"));
    doomed.reset();
    dispatcher.postAfter(seconds(0.04), note("end"));

    ASSERT_TRUE(runUntil([&] { return !ran.empty(); }));
    EXPECT_THAT(ran, ElementsAre("end"));
}

TEST_F(QtDispatcherTest, WorkPostedFromAnotherThreadRunsOnTheDispatchersThreadInOrder) {
    constexpr int count = 200;
    std::vector<int> order;
    std::atomic<int> offThread{0};
    QThread* const mainThread = QThread::currentThread();
    std::thread poster([&] {
        for (int index = 0; index < count; ++index) {
            dispatcher.postAfter(index % 2 == 0 ? Dispatcher::Duration::zero() : seconds(0.001),
                                 [&, index] {
                                     order.push_back(index);
                                     if (QThread::currentThread() != mainThread) {
                                         ++offThread;
                                     }
                                 });
        }
    });
    poster.join();

    ASSERT_TRUE(runUntil([&] { return order.size() == count; }));
    EXPECT_EQ(offThread.load(), 0);
    std::vector<int> immediate;
    for (const int index : order) {
        if (index % 2 == 0) {
            immediate.push_back(index);
        }
    }
    EXPECT_TRUE(std::is_sorted(immediate.begin(), immediate.end()));
}

// Leeway of a fifth of the interval rides on Qt's coarse timers; none takes
// the re-posting fallback.
class QtRepeatingTimerTest : public QtEventLoopTest, public ::testing::WithParamInterface<double> {
protected:
    std::unique_ptr<RepeatingTimer> start(std::function<void()> tick) {
        return dispatcher.startRepeatingTimer(seconds(0.005), seconds(0.01),
                                              seconds(0.01 * GetParam()), std::move(tick));
    }
};

TEST_P(QtRepeatingTimerTest, TicksUntilCancelledFromItsOwnTick) {
    int ticks = 0;
    std::unique_ptr<RepeatingTimer> timer;
    timer = start([&] {
        if (++ticks == 3) {
            timer->cancel();
        }
    });

    ASSERT_TRUE(runUntil([&] { return ticks == 3; }));
    runPast(seconds(0.05));
    EXPECT_EQ(ticks, 3);
}

TEST_P(QtRepeatingTimerTest, DestroyingTheTimerStopsItsTicks) {
    int ticks = 0;
    auto timer = start([&] { ++ticks; });
    ASSERT_TRUE(runUntil([&] { return ticks >= 2; }));

    timer.reset();
    const int ticksAtCancel = ticks;
    runPast(seconds(0.05));
    EXPECT_EQ(ticks, ticksAtCancel);
}

INSTANTIATE_TEST_SUITE_P(Leeway, QtRepeatingTimerTest, ::testing::Values(0.2, 0.0),
                         [](const auto& row) {
                             return row.param > 0 ? std::string("coarse") : "reposting";
                         });

} // namespace
} // namespace quellora
