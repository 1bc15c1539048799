#include "base/log_sinks.h"

#include "base/application_id.h"

#include <fmt/chrono.h>
#include <fmt/format.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace quellora {
namespace {

int journalPriority(LogLevel level) {
    switch (level) {
    case LogLevel::debug:
        return 7;
    case LogLevel::info:
        return 6;
    case LogLevel::notice:
        return 5;
    case LogLevel::error:
        return 3;
    case LogLevel::fault:
        return 2;
    }
    return 5;
}

} // namespace

void StderrLogSink::write(const LogRecord& record) {
    if (record.level < minimumLevel_) {
        return;
    }
    const auto millis =
        std::chrono::time_point_cast<std::chrono::milliseconds>(record.time).time_since_epoch();
    const std::string line = fmt::format("{:%H:%M:%S}.{:03d} [{}] {}: {}\n",
                                         fmt::localtime(std::time_t(millis.count() / 1000)),
                                         static_cast<int>(millis.count() % 1000), record.category,
                                         logLevelName(record.level), record.message);
    std::fwrite(line.data(), 1, line.size(), stderr);
}

std::optional<LogLevel> StderrLogSink::parseLevel(std::string_view name) {
    for (const auto level :
         {LogLevel::debug, LogLevel::info, LogLevel::notice, LogLevel::error, LogLevel::fault}) {
        if (name == logLevelName(level)) {
            return level;
        }
    }
    return std::nullopt;
}

LogLevel StderrLogSink::levelFromEnvironment() {
    const char* value = std::getenv("QUELLORA_LOG_LEVEL");
    return value ? parseLevel(value).value_or(LogLevel::info) : LogLevel::info;
}

void JournalLogSink::write(const LogRecord& record) {
    const std::string subsystem(applicationId);
    // Failures are ignored on purpose: the journal is an optional extra sink.
    sd_journal_send("MESSAGE=%s", record.message.c_str(), "PRIORITY=%d",
                    journalPriority(record.level), "SYSLOG_IDENTIFIER=quellora",
                    "QUELLORA_SUBSYSTEM=%s", subsystem.c_str(), "QUELLORA_CATEGORY=%s",
                    record.category.c_str(), nullptr);
}

bool JournalLogSink::isReachable() {
    return ::access("/run/systemd/journal/socket", W_OK) == 0;
}

void MemoryLogSink::write(const LogRecord& record) {
    const std::scoped_lock lock(mutex_);
    records_.push_back(record);
}

std::vector<LogRecord> MemoryLogSink::records() const {
    const std::scoped_lock lock(mutex_);
    return records_;
}

std::vector<std::string> MemoryLogSink::messages() const {
    const std::scoped_lock lock(mutex_);
    std::vector<std::string> messages;
    messages.reserve(records_.size());
    for (const auto& record : records_) {
        messages.push_back(record.message);
    }
    return messages;
}

bool MemoryLogSink::contains(std::string_view message) const {
    const std::scoped_lock lock(mutex_);
    return std::any_of(records_.begin(), records_.end(),
                       [&](const LogRecord& record) { return record.message == message; });
}

void MemoryLogSink::clear() {
    const std::scoped_lock lock(mutex_);
    records_.clear();
}

} // namespace quellora
