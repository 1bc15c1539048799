#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

namespace quellora {

// One argument of a log message. Integers keep their signedness so that a
// "%{public}u" of a negative value is caught rather than wrapped silently.
class LogArgument {
public:
    using Value = std::variant<std::int64_t, std::uint64_t, double, bool, std::string>;

    LogArgument(bool value)
        : value_(value) {}
    LogArgument(const char* value)
        : value_(std::string(value ? value : "(null)")) {}
    LogArgument(std::string_view value)
        : value_(std::string(value)) {}
    LogArgument(const std::string& value)
        : value_(value) {}
    template <typename T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool>) LogArgument(T value) {
        if constexpr (std::is_signed_v<T>) {
            value_ = static_cast<std::int64_t>(value);
        } else {
            value_ = static_cast<std::uint64_t>(value);
        }
    }
    template <typename T>
    requires std::is_floating_point_v<T> LogArgument(T value)
        : value_(static_cast<double>(value)) {}

    const Value& value() const { return value_; }

private:
    Value value_;
};

// Renders a message in the system log's format language: "%{public}d", "ld"
// and "u" print decimals, "s" the text, "f" six decimals, ".*f" takes its
// precision from the preceding argument, "%{bool,public}d" prints true/false
// and "%%" a percent sign. Missing arguments render as "<?>" so that a wrong
// call site shows in the log instead of crashing.
std::string renderLogMessage(std::string_view format, std::span<const LogArgument> arguments);

} // namespace quellora
