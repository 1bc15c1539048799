#pragma once

#include "engine/hal/simulated/simulated_hal.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
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

// The simulated server as tests drive it: calls that fail, changes that race
// a call, notifications lost, properties missing, and the server's state to
// check. Main thread only, like the server's own controls.
class ScriptedHal final : public SimulatedHal {
public:
    static constexpr int always = -1;

    using SimulatedHal::SimulatedHal;

    // Each matching call fails with `status`, without effect, `times` times
    // (always: from now on). Rules match in the order they were added; a
    // selector or object of 0 matches any.
    void injectFailure(HalOperation operation, OSStatus status, int times = 1,
                       FourCharCode selector = 0, AudioObjectID object = 0);
    void clearFailures() { failures_.clear(); }
    // Runs `action` once, inside the next call of `operation`, before the
    // call takes effect: a change that races with the engine's own call.
    void runDuringNextCall(HalOperation operation, std::function<void()> action);
    // Changes of `selector` no longer reach listeners.
    void loseNotifications(FourCharCode selector) { muted_->insert(selector); }
    // hasProperty false and reads fail, as for a property the object lacks.
    void removeProperty(AudioObjectID object, FourCharCode selector,
                        FourCharCode scope = AudioScope::global);
    // Nothing: the UID property reads as present but without a value.
    void setDeviceUID(AudioObjectID device, std::optional<std::string> uid);
    // Aggregates created from now on come alive this long after creation
    // (on the main dispatcher's clock) and announce 'livn' then.
    void setAggregateAliveDelay(Dispatcher::Duration delay) { aggregateAliveDelay_ = delay; }
    // Taps created from now on report this sample rate instead of the default
    // output's; 0 stands for a tap without a usable format.
    void overrideTapSampleRate(std::optional<double> rate) { tapSampleRateOverride_ = rate; }

    std::vector<AudioObjectID> taps() const;
    std::optional<TapDescription> tapDescription(AudioObjectID tap) const;
    std::vector<AudioObjectID> aggregateDevices() const;
    std::optional<AggregateDeviceDescription> aggregateDescription(AudioObjectID device) const;
    bool deviceExists(AudioObjectID device) const { return devices_.contains(device); }
    std::size_t ioProcCount(AudioObjectID device) const;
    std::size_t startedIOProcCount(AudioObjectID device) const;
    std::size_t listenerCount(AudioObjectID object, FourCharCode selector) const {
        return listeners_->count(object, selector);
    }
    std::size_t listenerCount() const { return listeners_->count(); }
    // The delay last written to an aggregate's output latency, if any.
    std::optional<std::uint32_t> reportedProcessingLatency(AudioObjectID aggregate) const;

    // Manual IO: runs every started proc of the device once, on the calling
    // thread; how many ran. Do not mix with a device running on its thread.
    int runIOCycle(AudioObjectID device, const AudioBufferList& input, AudioBufferList& output);
    bool isRunningOnThread(AudioObjectID device) const;
    // Cycles the device has completed, manual and threaded.
    std::uint64_t cycleCount(AudioObjectID device) const;
    // Blocks until the device has completed `cycles` cycles; false on timeout.
    bool waitForCycles(AudioObjectID device, std::uint64_t cycles,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    // AudioHal, scripted.
    bool hasProperty(AudioObjectID object, const AudioObjectPropertyAddress& address) override;
    OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                 std::uint32_t& size) override;
    OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                             std::uint32_t& size, void* data) override;
    OSStatus getPropertyString(AudioObjectID object, const AudioObjectPropertyAddress& address,
                               std::optional<std::string>& value) override;
    OSStatus setPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                             std::uint32_t size, const void* data) override;
    OSStatus createProcessTap(const TapDescription& description, AudioObjectID& tap) override;
    OSStatus destroyProcessTap(AudioObjectID tap) override;
    OSStatus setTapDescription(AudioObjectID tap, const TapDescription& description) override;
    OSStatus createAggregateDevice(const AggregateDeviceDescription& description,
                                   AudioObjectID& device) override;
    OSStatus destroyAggregateDevice(AudioObjectID device) override;
    OSStatus createIOProcID(AudioObjectID device, AudioDeviceIOBlock block,
                            AudioDeviceIOProcID& procID) override;
    OSStatus destroyIOProcID(AudioObjectID device, AudioDeviceIOProcID procID) override;
    OSStatus deviceStart(AudioObjectID device, AudioDeviceIOProcID procID) override;
    OSStatus deviceStop(AudioObjectID device, AudioDeviceIOProcID procID) override;
    OSStatus addPropertyListener(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                 AudioObjectPropertyListenerBlock block,
                                 AudioObjectPropertyListenerID& listener) override;
    OSStatus removePropertyListener(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                    AudioObjectPropertyListenerID listener) override;

private:
    struct FailureRule {
        HalOperation operation;
        OSStatus status;
        int remaining;
        FourCharCode selector;
        AudioObjectID object;
    };

    // Runs the action queued for the call, then the status it must fail
    // with, or kAudioHardwareNoError. Calls without an object or selector pass 0.
    OSStatus script(HalOperation operation, AudioObjectID object = 0, FourCharCode selector = 0);
    // The property was removed from an object that still has it.
    bool isRemoved(AudioObjectID object, const AudioObjectPropertyAddress& address);

    std::vector<FailureRule> failures_;
    std::vector<std::pair<HalOperation, std::function<void()>>> queuedActions_;
    std::shared_ptr<std::set<FourCharCode>> muted_ = std::make_shared<std::set<FourCharCode>>();
    std::set<std::tuple<AudioObjectID, FourCharCode, FourCharCode>> removedProperties_;
    Dispatcher::Duration aggregateAliveDelay_{};
    std::optional<double> tapSampleRateOverride_;
};

} // namespace quellora
