#pragma once

#include "base/manual_dispatcher.h"
#include "engine/audio_engine.h"
#include "engine/hal/simulated/simulated_buffer_list.h"
#include "support/log_capture.h"
#include "support/scripted_hal.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace quellora {

// An engine on a simulated server on virtual time: speakers (the default
// output), Bluetooth headphones, another application and this process.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        hal.setDefaultOutput(speakers);
        mainQueue.runUntilIdle();
    }

    void TearDown() override { engine.reset(); }

    // Creates the engine with the given switches and records its reports.
    AudioEngine& makeEngine(EngineSwitchValues switches = {}) {
        engine = std::make_unique<AudioEngine>(hal, mainQueue, diagnosticsQueue, switches);
        engine->onRunning = [this] {
            runningReports.push_back(secondsSinceStart());
        };
        engine->onFailed = [this](const std::string& message) {
            failureReports.push_back({secondsSinceStart(), message});
        };
        return *engine;
    }

    // Starts the engine and lets its first generation build.
    AudioEngine& startedEngine(EngineSwitchValues switches = {}) {
        makeEngine(switches).start();
        advance(0.4);
        EXPECT_EQ(runningReports.size(), 1u);
        return *engine;
    }

    void advance(double seconds) { mainQueue.advance(quellora::seconds(seconds)); }

    double secondsSinceStart() const {
        return std::chrono::duration<double>(mainQueue.now() - startTime).count();
    }

    std::size_t logCount(const std::string& message) const { return log.count(message); }
    bool logged(const std::string& message) const { return log.logged(message); }
    std::size_t logCountStartingWith(const std::string& prefix) const {
        return log.countStartingWith(prefix);
    }

    // The one aggregate the engine has built, or 0.
    AudioObjectID aggregate() const {
        const auto aggregates = hal.aggregateDevices();
        return aggregates.size() == 1 ? aggregates.front() : kAudioObjectUnknown;
    }

    // One IO period through the running pipeline: the tap's audio into the
    // aggregate, then the speakers' output buffers filled.
    void runPeriod(const SimulatedBufferList& tapInput, SimulatedBufferList& speakerOutput,
                   AudioObjectID outputDevice = 0) {
        auto aggregateOutput = SimulatedBufferList::interleaved(2, speakerOutput.frames());
        hal.runIOCycle(aggregate(), tapInput.list(), aggregateOutput.list());
        auto none = SimulatedBufferList::empty();
        hal.runIOCycle(outputDevice ? outputDevice : speakers, none.list(), speakerOutput.list());
    }

    testing::LogCapture log;
    ManualDispatcher mainQueue;
    ManualDispatcher diagnosticsQueue;
    Dispatcher::TimePoint startTime = mainQueue.now();
    ScriptedHal hal{mainQueue};
    AudioObjectID speakers = hal.addOutputDevice({.uid = "speakers"});
    AudioObjectID headphones = hal.addOutputDevice({.uid = "headphones",
                                                    .nominalSampleRate = 44100,
                                                    .transportType = AudioTransport::bluetooth});
    AudioObjectID player = hal.addProcess(1001);
    AudioObjectID ownProcess = hal.addProcess(hal.ownProcessID());
    std::unique_ptr<AudioEngine> engine;
    std::vector<double> runningReports;
    struct FailureReport {
        double atSeconds;
        std::string message;
    };
    std::vector<FailureReport> failureReports;
};

} // namespace quellora
