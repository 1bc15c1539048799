#include "base/manual_dispatcher.h"
#include "base/observable.h"
#include "base/thread_dispatcher.h"

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>
#include <vector>

namespace quellora {
namespace {

TEST(ManualDispatcherTest, RunsDueWorkInTimeThenPostingOrder) {
    ManualDispatcher dispatcher;
    std::vector<std::string> ran;
    dispatcher.postAfter(seconds(0.4), [&] { ran.push_back("b"); });
    dispatcher.post([&] { ran.push_back("a1"); });
    dispatcher.post([&] { ran.push_back("a2"); });
    const auto cancelled = dispatcher.postAfter(seconds(0.1), [&] { ran.push_back("never"); });
    cancelled->cancel();

    dispatcher.advance(seconds(0.39));
    EXPECT_EQ(ran, (std::vector<std::string>{"a1", "a2"}));
    dispatcher.advance(seconds(0.01));
    EXPECT_EQ(ran, (std::vector<std::string>{"a1", "a2", "b"}));
    EXPECT_EQ(dispatcher.pendingCount(), 0u);
}

TEST(ManualDispatcherTest, RepeatingTimerTicksOnScheduleUntilCancelled) {
    ManualDispatcher dispatcher;
    int ticks = 0;
    auto timer =
        dispatcher.startRepeatingTimer(seconds(1.0), seconds(1.0), seconds(0.25), [&] { ++ticks; });
    dispatcher.advance(seconds(0.999));
    EXPECT_EQ(ticks, 0);
    dispatcher.advance(seconds(3.001));
    EXPECT_EQ(ticks, 4);
    timer->cancel();
    dispatcher.advance(seconds(5.0));
    EXPECT_EQ(ticks, 4);

    std::unique_ptr<RepeatingTimer> selfStopping;
    selfStopping = dispatcher.startRepeatingTimer(seconds(0.5), seconds(0.5), {}, [&] {
        if (++ticks == 6) {
            selfStopping.reset(); // a tick may end its own timer
        }
    });
    dispatcher.advance(seconds(10.0));
    EXPECT_EQ(ticks, 6);
}

TEST(ThreadDispatcherThreadedTest, RunsWorkInOrderOnItsOwnThread) {
    ThreadDispatcher dispatcher;
    std::vector<int> order;
    std::promise<std::thread::id> ranOn;
    const auto cancelled = dispatcher.postAfter(seconds(0.05), [&] { order.push_back(-1); });
    cancelled->cancel();
    for (int i = 0; i < 100; ++i) {
        dispatcher.post([&order, i] { order.push_back(i); });
    }
    dispatcher.postAfter(seconds(0.1), [&] { ranOn.set_value(std::this_thread::get_id()); });
    auto result = ranOn.get_future();
    EXPECT_NE(result.get(), std::this_thread::get_id());
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    }
}

TEST(ObservableTest, NotifiesOnlyWhenTheValueChanges) {
    Observable<int> value(1);
    std::vector<int> seen;
    auto subscription = value.subscribe([&](const int& v) { seen.push_back(v); });
    value = 1;
    value = 2;
    value = 2;
    value = 3;
    EXPECT_EQ(seen, (std::vector<int>{2, 3}));
    subscription.reset();
    value = 4;
    EXPECT_EQ(seen, (std::vector<int>{2, 3}));
    EXPECT_EQ(value.get(), 4);
}

TEST(ObservableTest, ObserversMayUnsubscribeWhileNotifiedAndOutliveTheValue) {
    Subscription second;
    int firstCalls = 0;
    int secondCalls = 0;
    {
        Observable<std::string> mode("off");
        auto first = mode.subscribe([&](const std::string&) {
            ++firstCalls;
            second.reset();
        });
        second = mode.subscribe([&](const std::string&) { ++secondCalls; });
        mode = "on";
        mode = "error";
        auto late = mode.subscribe([](const std::string&) {});
        first = std::move(late);
    }
    EXPECT_EQ(firstCalls, 2);
    EXPECT_EQ(secondCalls, 0);
}

} // namespace
} // namespace quellora
