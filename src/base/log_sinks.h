#pragma once

#include "base/log.h"

#include <mutex>
#include <optional>
#include <vector>

namespace quellora {

// Human-readable lines on standard error, at or above a minimum level.
class StderrLogSink final : public LogSink {
public:
    explicit StderrLogSink(LogLevel minimumLevel = LogLevel::info)
        : minimumLevel_(minimumLevel) {}

    void write(const LogRecord& record) override;

    // "QUELLORA_LOG_LEVEL" = debug, info, default, error or fault; info otherwise.
    static LogLevel levelFromEnvironment();
    static std::optional<LogLevel> parseLevel(std::string_view name);

private:
    LogLevel minimumLevel_;
};

// Structured entries in the systemd journal. A journal that is not reachable
// is not an error: entries are dropped.
class JournalLogSink final : public LogSink {
public:
    void write(const LogRecord& record) override;
    static bool isReachable();
};

// Keeps every record for tests to inspect.
class MemoryLogSink final : public LogSink {
public:
    void write(const LogRecord& record) override;

    std::vector<LogRecord> records() const;
    std::vector<std::string> messages() const;
    bool contains(std::string_view message) const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<LogRecord> records_;
};

} // namespace quellora
