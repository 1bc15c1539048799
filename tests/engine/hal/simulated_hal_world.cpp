#include "base/manual_dispatcher.h"
#include "engine/hal/simulated/simulated_buffer_list.h"
#include "hal_contract.h"
#include "support/scripted_hal.h"

#include <algorithm>

namespace quellora {
namespace {

// The simulated server on virtual time: each turn of the main queue also
// runs one IO cycle of every aggregate, whose tap carries a tone once the
// application plays.
class SimulatedHalWorld final : public HalWorld {
public:
    SimulatedHalWorld() {
        hal_->addProcess(hal_->ownProcessID()); // our own connection, as a real server lists it
        hal_->setDefaultOutput(plugDevice("speakers", "Speakers"));
        plugDevice("headphones", "");
    }

    AudioHal& hal() override { return *hal_; }

    bool runUntil(const std::function<bool()>& done) override {
        for (int turn = 0; !done(); ++turn) {
            if (turn == 100) {
                return false;
            }
            runOneTurn();
        }
        return true;
    }

    void settle() override {
        runUntil([] { return false; });
    }

    void closeHal() override { hal_.reset(); }

    void setDefaultOutput(const std::string& uid) override {
        hal_->setDefaultOutput(hal_->deviceWithUID(uid).value());
    }

    void setSampleRate(double rate) override {
        hal_->setNominalSampleRate(hal_->defaultOutput(), rate);
    }

    void plugDevice(const std::string& uid) override { plugDevice(uid, ""); }

    void unplugDevice(const std::string& uid) override {
        hal_->removeDevice(hal_->deviceWithUID(uid).value());
    }

    std::int32_t startPlaying() override {
        const std::int32_t pid = 1001;
        hal_->startPlayback(hal_->addProcess(pid), hal_->defaultOutput());
        std::ranges::fill(tap_.samples(0), 0.25f);
        return pid;
    }

    bool leftAsItWas() override {
        return hal_->taps().empty() && hal_->aggregateDevices().empty() &&
               hal_->listenerCount() == 0;
    }

private:
    AudioObjectID plugDevice(const std::string& uid, const std::string& name) {
        return hal_->addOutputDevice(
            {.uid = uid, .name = name, .transportType = AudioTransport::virtualDevice});
    }

    void runOneTurn() {
        dispatcher_.runUntilIdle();
        for (const auto aggregate :
             hal_ ? hal_->aggregateDevices() : std::vector<AudioObjectID>{}) {
            hal_->runIOCycle(aggregate, tap_.list(), output_.list());
        }
    }

    ManualDispatcher dispatcher_;
    std::unique_ptr<ScriptedHal> hal_ = std::make_unique<ScriptedHal>(dispatcher_);
    SimulatedBufferList tap_ = SimulatedBufferList::interleaved(2, 512);
    SimulatedBufferList output_ = SimulatedBufferList::interleaved(2, 512);
};

INSTANTIATE_TEST_SUITE_P(Contract, HalContract,
                         ::testing::Values(HalBackend{
                             "Simulated", [] {
                                 return std::make_unique<SimulatedHalWorld>();
                             }}));

} // namespace
} // namespace quellora
