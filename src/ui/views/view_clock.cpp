#include "ui/views/view_clock.h"

#include <chrono>

namespace quellora {

ViewClock systemViewClock() {
    return [] {
        const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
        return std::chrono::duration<double>(sinceEpoch).count();
    };
}

} // namespace quellora
