#pragma once

// What the engine relies on from any audio server, run against each of them
// (hal_contract_test.cpp): the simulated one in the unit tests, the PipeWire
// adapter on a private server in the integration tests.

#include "engine/hal/audio_hal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quellora {

// A server with two virtual outputs, "speakers" (named "Speakers", the
// default) and "headphones", and what happens around it, made to happen the
// way each server needs. Cases run on the main queue, which they drive
// through the world.
class HalWorld {
public:
    virtual ~HalWorld() = default;
    virtual AudioHal& hal() = 0;
    // Runs the main queue until `done` holds; false when it still does not
    // after as long as the server takes to act on a change.
    virtual bool runUntil(const std::function<bool()>& done) = 0;
    // Runs the main queue as long as a late delivery could take.
    virtual void settle() = 0;
    // The HAL goes; the main queue stays.
    virtual void closeHal() = 0;

    // The user chooses another default output, and the server has taken it.
    virtual void setDefaultOutput(const std::string& uid) = 0;
    // The outputs run at another rate, as when the user changes it.
    virtual void setSampleRate(double rate) = 0;
    // A device comes or goes.
    virtual AudioObjectID plugDevice(const std::string& uid) = 0;
    virtual void unplugDevice(const std::string& uid) = 0;
    // An application plays a steady tone wherever new streams go (the
    // default output), until the world ends; its PID.
    virtual std::int32_t startPlaying() = 0;
    // Nothing of ours is left on the server, and what plays does so on the
    // default output.
    virtual bool leftAsItWas() = 0;
};

using HalWorldFactory = std::function<std::unique_ptr<HalWorld>()>;

class HalContract : public ::testing::TestWithParam<HalWorldFactory> {
protected:
    // What an IO proc saw: its cycles, and those whose input carried audio.
    struct Probe {
        std::atomic<int> cycles{0};
        std::atomic<int> audible{0};
        AudioDeviceIOBlock block();
    };
    // A tap of every application but ours and an aggregate of it over the
    // default output, alive: what the engine builds.
    struct Pipeline {
        TapDescription tap;
        AudioObjectID tapID = 0;
        AudioObjectID aggregate = 0;
    };

    static constexpr AudioObjectPropertyAddress address(FourCharCode selector,
                                                        FourCharCode scope = AudioScope::global) {
        return {selector, scope, 0};
    }
    AudioObjectID defaultOutput();
    std::optional<std::string> string(AudioObjectID object, FourCharCode selector);
    // Fails the case unless the property reads whole.
    std::uint32_t readUInt32(AudioObjectID object, FourCharCode selector,
                             FourCharCode scope = AudioScope::global);
    // Counts deliveries into `count`.
    AudioObjectPropertyListenerID listen(AudioObjectID object, FourCharCode selector, int& count);
    Pipeline buildPipeline();
    // The process object of the application with this PID, 0 if none.
    AudioObjectID processWithPID(std::int32_t pid);

    Probe probe; // outlives the world, whose IO threads call it
    std::unique_ptr<HalWorld> world = GetParam()();
    AudioHal& hal = world->hal();
};

} // namespace quellora
