#pragma once

#include "base/log_format.h"

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quellora {

// The system log's levels. `notice` is the "default" level of the log messages.
enum class LogLevel { debug, info, notice, error, fault };

std::string_view logLevelName(LogLevel level);

struct LogRecord {
    std::chrono::system_clock::time_point time;
    LogLevel level = LogLevel::notice;
    std::string category;
    std::string message;
};

class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void write(const LogRecord& record) = 0;
};

// Log facade: one `Logger` per category ("AudioEngine", "AppState", ...).
// Every record goes to all installed sinks. Never call from real-time code.
class Logger {
public:
    explicit Logger(std::string_view category)
        : category_(category) {}

    template <typename... Arguments>
    void debug(std::string_view format, const Arguments&... arguments) const {
        emit(LogLevel::debug, format, arguments...);
    }
    template <typename... Arguments>
    void info(std::string_view format, const Arguments&... arguments) const {
        emit(LogLevel::info, format, arguments...);
    }
    template <typename... Arguments>
    void notice(std::string_view format, const Arguments&... arguments) const {
        emit(LogLevel::notice, format, arguments...);
    }
    template <typename... Arguments>
    void error(std::string_view format, const Arguments&... arguments) const {
        emit(LogLevel::error, format, arguments...);
    }
    template <typename... Arguments>
    void fault(std::string_view format, const Arguments&... arguments) const {
        emit(LogLevel::fault, format, arguments...);
    }

    const std::string& category() const { return category_; }

private:
    template <typename... Arguments>
    void emit(LogLevel level, std::string_view format, const Arguments&... arguments) const {
        const std::array<LogArgument, sizeof...(Arguments)> packed{LogArgument(arguments)...};
        write(level, renderLogMessage(format, packed));
    }
    void write(LogLevel level, std::string message) const;

    std::string category_;
};

namespace Log {

// Replaces the installed sinks. Until the first call the sinks are stderr and,
// where one is reachable, the systemd journal.
void setSinks(std::vector<std::shared_ptr<LogSink>> sinks);
std::vector<std::shared_ptr<LogSink>> defaultSinks();

} // namespace Log

} // namespace quellora
