#include "base/log_format.h"

#include <fmt/format.h>

#include <cstddef>

namespace quellora {
namespace {

struct Conversion {
    bool boolean = false;
    bool precisionFromArgument = false;
    int precision = -1;
    char kind = 0;
};

class ArgumentCursor {
public:
    explicit ArgumentCursor(std::span<const LogArgument> arguments)
        : arguments_(arguments) {}

    const LogArgument* next() {
        return index_ < arguments_.size() ? &arguments_[index_++] : nullptr;
    }

private:
    std::span<const LogArgument> arguments_;
    std::size_t index_ = 0;
};

std::int64_t asInteger(const LogArgument& argument) {
    return std::visit(
        [](const auto& value) -> std::int64_t {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, std::string>) {
                return 0;
            } else {
                return static_cast<std::int64_t>(value);
            }
        },
        argument.value());
}

void appendNumber(std::string& out, const LogArgument& argument, const Conversion& conversion) {
    std::visit(
        [&](const auto& value) {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, std::string>) {
                out += value;
            } else if constexpr (std::is_same_v<T, bool>) {
                if (conversion.boolean) {
                    out += value ? "true" : "false";
                } else if (conversion.kind == 'f') {
                    out += fmt::format("{:.{}f}", value ? 1.0 : 0.0, conversion.precision);
                } else {
                    out += value ? "1" : "0";
                }
            } else if (conversion.kind == 'f') {
                out += fmt::format("{:.{}f}", static_cast<double>(value), conversion.precision);
            } else if (conversion.boolean) {
                out += value != T{} ? "true" : "false";
            } else if constexpr (std::is_same_v<T, double>) {
                out += fmt::format("{}", static_cast<std::int64_t>(value));
            } else {
                out += fmt::format("{}", value);
            }
        },
        argument.value());
}

// Parses "{...}", precision and length modifiers after a '%'; returns the
// position just past the conversion character, or npos if none follows.
std::size_t parseConversion(std::string_view format, std::size_t position, Conversion& conversion) {
    if (position < format.size() && format[position] == '{') {
        const auto close = format.find('}', position);
        if (close == std::string_view::npos) {
            return std::string_view::npos;
        }
        const auto attributes = format.substr(position + 1, close - position - 1);
        conversion.boolean = attributes.find("bool") != std::string_view::npos;
        position = close + 1;
    }
    if (position < format.size() && format[position] == '.') {
        ++position;
        if (position < format.size() && format[position] == '*') {
            conversion.precisionFromArgument = true;
            ++position;
        } else {
            conversion.precision = 0;
            while (position < format.size() && format[position] >= '0' && format[position] <= '9') {
                conversion.precision = conversion.precision * 10 + (format[position] - '0');
                ++position;
            }
        }
    }
    while (position < format.size() &&
           (format[position] == 'l' || format[position] == 'h' || format[position] == 'z' ||
            format[position] == 'q' || format[position] == 'j')) {
        ++position;
    }
    if (position >= format.size()) {
        return std::string_view::npos;
    }
    conversion.kind = format[position];
    return position + 1;
}

} // namespace

std::string renderLogMessage(std::string_view format, std::span<const LogArgument> arguments) {
    std::string out;
    out.reserve(format.size() + 16 * arguments.size());
    ArgumentCursor cursor(arguments);
    std::size_t position = 0;
    while (position < format.size()) {
        const auto percent = format.find('%', position);
        if (percent == std::string_view::npos) {
            out.append(format.substr(position));
            break;
        }
        out.append(format.substr(position, percent - position));
        if (percent + 1 < format.size() && format[percent + 1] == '%') {
            out += '%';
            position = percent + 2;
            continue;
        }
        Conversion conversion;
        const auto end = parseConversion(format, percent + 1, conversion);
        if (end == std::string_view::npos) {
            out.append(format.substr(percent));
            break;
        }
        if (conversion.precisionFromArgument) {
            const auto* precision = cursor.next();
            conversion.precision = precision ? static_cast<int>(asInteger(*precision)) : 6;
        }
        if (conversion.kind == 'f' && (conversion.precision < 0 || conversion.precision > 40)) {
            conversion.precision = 6;
        }
        const auto* argument = cursor.next();
        if (argument == nullptr) {
            out += "<?>";
        } else {
            appendNumber(out, *argument, conversion);
        }
        position = end;
    }
    return out;
}

} // namespace quellora
