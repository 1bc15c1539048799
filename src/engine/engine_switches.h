#pragma once

#include "engine/runtime_switches.h"

#include <cstdint>

namespace quellora {

// The switches one engine runs with, fixed at its construction. Production
// takes them from the environment; tests set them directly.
struct EngineSwitchValues {
    std::int64_t desiredBufferFrames = 0;
    bool tapDriftCompensation = true;
    bool keepAlive = false;
    float keepAliveAmp = EngineSwitches::defaultKeepAliveAmp;
    bool clickDebug = false;
    bool meteringEnabled = false; // development builds only

    static EngineSwitchValues fromEnvironment(bool meteringEnabled) {
        return {EngineSwitches::desiredBufferFrames(), EngineSwitches::tapDriftCompensation(),
                EngineSwitches::keepAlive(),           EngineSwitches::keepAliveAmp(),
                EngineSwitches::clickDebug(),          meteringEnabled};
    }
};

} // namespace quellora
