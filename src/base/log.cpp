#include "base/log.h"

#include "base/log_sinks.h"

#include <mutex>
#include <utility>

namespace quellora {
namespace {

class SinkRegistry {
public:
    static SinkRegistry& shared() {
        static SinkRegistry registry;
        return registry;
    }

    void replace(std::vector<std::shared_ptr<LogSink>> sinks) {
        const std::scoped_lock lock(mutex_);
        sinks_ = std::move(sinks);
        installed_ = true;
    }

    void deliver(const LogRecord& record) {
        const std::scoped_lock lock(mutex_);
        if (!installed_) {
            sinks_ = Log::defaultSinks();
            installed_ = true;
        }
        for (const auto& sink : sinks_) {
            sink->write(record);
        }
    }

private:
    std::mutex mutex_;
    std::vector<std::shared_ptr<LogSink>> sinks_;
    bool installed_ = false;
};

} // namespace

std::string_view logLevelName(LogLevel level) {
    switch (level) {
    case LogLevel::debug:
        return "debug";
    case LogLevel::info:
        return "info";
    case LogLevel::notice:
        return "default";
    case LogLevel::error:
        return "error";
    case LogLevel::fault:
        return "fault";
    }
    return "default";
}

void Logger::write(LogLevel level, std::string message) const {
    LogRecord record;
    record.time = std::chrono::system_clock::now();
    record.level = level;
    record.category = category_;
    record.message = std::move(message);
    SinkRegistry::shared().deliver(record);
}

namespace Log {

void setSinks(std::vector<std::shared_ptr<LogSink>> sinks) {
    SinkRegistry::shared().replace(std::move(sinks));
}

std::vector<std::shared_ptr<LogSink>> defaultSinks() {
    std::vector<std::shared_ptr<LogSink>> sinks;
    sinks.push_back(std::make_shared<StderrLogSink>(StderrLogSink::levelFromEnvironment()));
    if (JournalLogSink::isReachable()) {
        sinks.push_back(std::make_shared<JournalLogSink>());
    }
    return sinks;
}

} // namespace Log
} // namespace quellora
