#pragma once

#include <chrono>
#include <cstdint>

namespace quellora {

// The monotonic clock of the IO-load metering: ticks convert to nanoseconds
// by numerator / denominator.
struct HostTimebase {
    std::uint32_t numerator = 1;
    std::uint32_t denominator = 1;
};

namespace HostClock {

inline std::int64_t now() noexcept {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Ticks are nanoseconds already.
inline constexpr HostTimebase timebase() {
    return {1, 1};
}

} // namespace HostClock

} // namespace quellora
