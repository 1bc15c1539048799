#include "qt_event_loop_test.h"
#include "runtime/termination_signal_watcher.h"

#include <gmock/gmock.h>

#include <atomic>
#include <csignal>
#include <vector>

namespace quellora {
namespace {

using ::testing::ElementsAre;

using TerminationSignalWatcherTest = QtEventLoopTest;

std::atomic<int> earlierHandlerCalls{0};

TEST_F(TerminationSignalWatcherTest, SignalsReachTheHandlerOnTheEventLoop) {
    std::vector<int> received;
    const TerminationSignalWatcher watcher([&](int signal) { received.push_back(signal); });

    std::raise(SIGTERM);
    EXPECT_TRUE(received.empty()) << "the handler ran inside the signal handler";
    ASSERT_TRUE(runUntil([&] { return received.size() == 1; }));
    std::raise(SIGINT);
    ASSERT_TRUE(runUntil([&] { return received.size() == 2; }));

    EXPECT_THAT(received, ElementsAre(SIGTERM, SIGINT));
}

TEST_F(TerminationSignalWatcherTest, TheEarlierHandlerComesBackWhenTheWatcherGoes) {
    const auto earlier = std::signal(SIGTERM, [](int) { ++earlierHandlerCalls; });
    earlierHandlerCalls = 0;
    int watched = 0;
    {
        const TerminationSignalWatcher watcher([&](int) { ++watched; });
        std::raise(SIGTERM);
        ASSERT_TRUE(runUntil([&] { return watched == 1; }));
    }
    std::raise(SIGTERM);
    std::signal(SIGTERM, earlier);

    EXPECT_EQ(earlierHandlerCalls.load(), 1);
    EXPECT_EQ(watched, 1);
}

} // namespace
} // namespace quellora
