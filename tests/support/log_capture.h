#pragma once

#include "base/log_sinks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <string>

namespace quellora::testing {

// Sends every log record to memory while it exists, so a test can assert on
// the rendered texts; prints them when the test has failed, which is when
// someone needs them.
class LogCapture {
public:
    LogCapture() { Log::setSinks({sink_}); }
    ~LogCapture() {
        if (::testing::Test::HasFailure()) {
            for (const auto& message : sink_->messages()) {
                std::cerr << "  log: " << message << '\n';
            }
        }
        Log::setSinks(Log::defaultSinks());
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    bool logged(const std::string& message) const { return sink_->contains(message); }
    std::size_t count(const std::string& message) const {
        const auto messages = sink_->messages();
        return static_cast<std::size_t>(std::count(messages.begin(), messages.end(), message));
    }
    std::size_t countStartingWith(const std::string& prefix) const {
        const auto messages = sink_->messages();
        return static_cast<std::size_t>(
            std::count_if(messages.begin(), messages.end(),
                          [&](const std::string& m) { return m.rfind(prefix, 0) == 0; }));
    }
    std::vector<std::string> messages() const { return sink_->messages(); }

private:
    std::shared_ptr<MemoryLogSink> sink_ = std::make_shared<MemoryLogSink>();
};

} // namespace quellora::testing
