#pragma once

#include "engine/hal/audio_hal.h"

#include <vector>

namespace quellora {

// The AudioHal operations that return a status.
enum class HalOperation {
    getPropertyDataSize,
    getPropertyData,
    getPropertyString,
    setPropertyData,
    createProcessTap,
    destroyProcessTap,
    setTapDescription,
    createAggregateDevice,
    destroyAggregateDevice,
    createIOProcID,
    destroyIOProcID,
    deviceStart,
    deviceStop,
    addPropertyListener,
    removePropertyListener,
};

// Failures a test has queued: each rule makes matching calls fail with its
// status, without side effects, a number of times or for good. Rules match in
// the order they were added; a selector or object of 0 matches any.
class SimulatedFailurePlan {
public:
    static constexpr int always = -1;

    void inject(HalOperation operation, OSStatus status, int times, FourCharCode selector,
                AudioObjectID object);
    void clear() { rules_.clear(); }

    // The status a call must fail with, or kAudioHardwareNoError. Calls that
    // address no object or selector pass 0.
    OSStatus take(HalOperation operation, AudioObjectID object, FourCharCode selector);

private:
    struct Rule {
        HalOperation operation;
        OSStatus status;
        int remaining;
        FourCharCode selector;
        AudioObjectID object;
    };

    std::vector<Rule> rules_;
};

} // namespace quellora
