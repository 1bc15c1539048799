#pragma once

#include <functional>

namespace quellora {

// Seconds since a fixed epoch: the time the views' animations follow (the
// breathing dot, the idle noise, the dot's motion). Tests pin it.
using ViewClock = std::function<double()>;

// The wall clock, in seconds since the Unix epoch.
ViewClock systemViewClock();

} // namespace quellora
