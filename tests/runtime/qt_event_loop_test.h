#pragma once

#include "runtime/qt_dispatcher.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <functional>

namespace quellora {

// A Qt application for one test, with the main queue on its event loop.
class QtEventLoopTest : public ::testing::Test {
protected:
    // Lets the event loop run until `condition` holds; false after 5 s.
    bool runUntil(const std::function<bool()>& condition) {
        const auto deadline = dispatcher.now() + seconds(5.0);
        while (!condition()) {
            if (dispatcher.now() >= deadline) {
                return false;
            }
            dispatcher.runFor(seconds(0.005));
        }
        return true;
    }

    // Lets the event loop run until work posted `duration` from now has run:
    // whatever else was due by then has had its chance.
    void runPast(Dispatcher::Duration duration) {
        bool reached = false;
        dispatcher.postAfter(duration, [&] { reached = true; });
        ASSERT_TRUE(runUntil([&] { return reached; }));
    }

    int argc = 1;
    char programName[16] = "quellora-tests";
    char* argv[2] = {programName, nullptr};
    QCoreApplication application{argc, argv};
    QtDispatcher dispatcher;
};

} // namespace quellora
