#pragma once

// What the engine relies on from an audio server, one set of cases
// (hal_contract_test.cpp) run against each: the simulated server in the unit
// tests, the PipeWire adapter on a private server in the integration tests.

#include "engine/device_queries.h"
#include "engine/hal/audio_hal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

namespace quellora {

// A server with two virtual stereo outputs, "speakers" (named "Speakers",
// the default) and "headphones", and what happens around it, made to
// happen as each server needs. The cases run on its main queue.
class HalWorld {
public:
    virtual ~HalWorld() = default;
    virtual AudioHal& hal() = 0;
    // Runs the main queue until `done` holds; false if it does not within
    // the time the server takes to act on a change.
    virtual bool runUntil(const std::function<bool()>& done) = 0;
    // Runs the main queue as long as a late delivery could take.
    virtual void settle() = 0;
    // The HAL goes; the main queue stays.
    virtual void closeHal() = 0;

    // The user picks another default output, and the server has taken it.
    virtual void setDefaultOutput(const std::string& uid) = 0;
    // The user runs the default output at another rate.
    virtual void setSampleRate(double rate) = 0;
    virtual void plugDevice(const std::string& uid) = 0;
    virtual void unplugDevice(const std::string& uid) = 0;
    // An application plays a tone wherever new streams go (the default
    // output) from now on; its PID.
    virtual std::int32_t startPlaying() = 0;
    // Nothing of ours is left on the server, and what plays does so on the
    // default output.
    virtual bool leftAsItWas() = 0;
};

// A server the cases run on, named at the end of their names.
struct HalBackend {
    std::string name;
    std::function<std::unique_ptr<HalWorld>()> makeWorld;
};
inline void PrintTo(const HalBackend& backend, std::ostream* out) {
    *out << backend.name;
}

class HalContract : public ::testing::TestWithParam<HalBackend> {
protected:
    // A tap of every application and an aggregate of it over the default
    // output, alive: what the engine builds.
    struct Pipeline {
        TapDescription tap;
        AudioObjectID tapID = 0;
        AudioObjectID aggregate = 0;
    };

    static constexpr AudioObjectPropertyAddress address(FourCharCode selector,
                                                        FourCharCode scope = AudioScope::global) {
        return {selector, scope, 0};
    }
    std::optional<std::uint32_t> uint32(AudioObjectID object, FourCharCode selector,
                                        FourCharCode scope = AudioScope::global) {
        return audioObjectUInt32(hal, object, selector, scope);
    }
    AudioObjectID defaultOutput() {
        return uint32(kAudioObjectSystemObject, AudioProperty::defaultOutputDevice).value_or(0);
    }
    // Counts deliveries into `count`.
    AudioObjectPropertyListenerID listen(AudioObjectID object, FourCharCode selector, int& count);
    Pipeline buildPipeline();

    // IO procs count their cycles, and those whose input carried sound.
    std::atomic<int> cycles{0};
    std::atomic<int> audibleCycles{0};
    std::unique_ptr<HalWorld> world =
        GetParam().makeWorld(); // goes first: its IO threads count above
    AudioHal& hal = world->hal();
};

} // namespace quellora
