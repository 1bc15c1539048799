#pragma once

#include "base/dispatcher.h"
#include "engine/hal/audio_hal.h"
#include "engine/hal/simulated/simulated_device.h"
#include "engine/hal/simulated/simulated_device_clock.h"
#include "engine/hal/simulated/simulated_failure_plan.h"
#include "engine/hal/simulated/simulated_listener_registry.h"
#include "engine/hal/simulated/simulated_property_value.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace quellora {

// An output device as a test plugs it in.
struct OutputDeviceProfile {
    std::string uid{};  // empty: "simulated-output-<id>"
    std::string name{}; // empty: none
    bool alive = true;
    double nominalSampleRate = 48000.0;
    std::uint32_t bufferFrameSize = 512;
    std::optional<FrameSizeRange> bufferFrameSizeRange = FrameSizeRange{15, 4096};
    std::uint32_t transportType = AudioTransport::builtIn;
    std::uint32_t inputStreamCount = 0;
    std::uint32_t latencyFrames = 0;      // output scope
    std::uint32_t safetyOffsetFrames = 0; // output scope
    std::uint32_t outputChannelCount = 2;
    // Where the output channels play; empty: the usual labels for
    // outputChannelCount. When given, they set the channel count.
    std::vector<std::uint32_t> channelLabels{};
};

// A process as an application starts it: what the server knows of it.
struct ProcessProfile {
    std::int32_t pid = 0;
    std::string bundleID{}; // empty: nothing identifies it
    std::string name{};     // empty: no name
    std::string iconName{};
    std::string binary{}; // empty: not told
    DirectOutputReason directOutputReason = DirectOutputReason::none;
    // The device it plays on instead of the default output, by name; empty:
    // it follows the default output.
    std::string outputDeviceName{};
};

// How devices run when they run on their own threads.
struct ThreadedClockOptions {
    // Above 1 runs the clocks faster than real time.
    double timeScale = 1.0;
    // Relative clock error: +0.001 runs a clock 0.1 % fast.
    double aggregateDrift = 0.0;
    double outputDrift = 0.0;
    // The tapped audio an aggregate's procs receive as input, interleaved in
    // the tap's channels.
    SimulatedInputSource tapSource{};
    // What an output device's procs wrote, after each of its cycles.
    std::function<void(AudioObjectID device, const AudioBufferList& output)> outputSink{};
};

// A deterministic audio server in this process. Control operations, test
// controls and listener delivery happen on the main thread; IO procs run when
// a test calls runIOCycle or, after runDevicesOnThreads, on a thread per
// running device.
//
// Strictness worth knowing: device properties exist only at their own scopes
// ('fsiz' at global and input, 'stm#' at input, 'ltnc' and 'saft' at output,
// the rest at global); string properties are read only with getPropertyString; listeners match by
// object, selector and scope and every change is announced at global scope; starting a proc on a
// device that is not alive fails with kAudioHardwareNotRunningError. Object IDs are never reused.
// Listeners on a removed object stay installed (so removing them succeeds and a leak stays
// countable) but never fire again.
class SimulatedHal final : public AudioHal {
public:
    static constexpr std::int32_t defaultOwnPID = 4242;
    // An aggregate's own output.
    static constexpr std::uint32_t aggregateChannelCount = 2;
    // The labels a device of `channels` outputs has unless told otherwise:
    // mono, stereo, then FL FR FC LFE and the rear and side pairs, up to 7.1.
    static std::vector<std::uint32_t> usualChannelLabels(std::uint32_t channels);

    explicit SimulatedHal(Dispatcher& mainDispatcher, std::int32_t ownPID = defaultOwnPID);
    ~SimulatedHal() override;

    SimulatedHal(const SimulatedHal&) = delete;
    SimulatedHal& operator=(const SimulatedHal&) = delete;

    // AudioHal
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
    std::int32_t ownProcessID() override { return ownPID_; }

    // The world around the engine. Controls throw std::invalid_argument for
    // an object that does not exist or has the wrong kind.
    AudioObjectID addOutputDevice(const OutputDeviceProfile& profile = {});
    // 0 for none. Announces 'dOut' on a change.
    void setDefaultOutput(AudioObjectID device);
    AudioObjectID defaultOutput() const { return defaultOutput_; }
    // Announces 'livn' when the device's aliveness changes.
    void setDeviceAlive(AudioObjectID device, bool alive);
    // On an aggregate this stops it following its main sub-device's rate.
    // Announces 'nsrt' on every device whose rate changes.
    void setNominalSampleRate(AudioObjectID device, double rate);
    // A profile switch: the device's output channels become these.
    // Announces 'srnd' (at output scope).
    void setChannelLayout(AudioObjectID device, std::vector<std::uint32_t> labels);
    // Nothing: the UID property reads as present but without a value.
    void setDeviceUID(AudioObjectID device, std::optional<std::string> uid);
    // What 'fsiz' reads back from now on, whatever is set; nothing restores it.
    void overrideReportedBufferFrameSize(AudioObjectID device, std::optional<std::uint32_t> frames);
    // Unplugs a device: announces 'livn' on it, stops its threads and procs
    // and the playback on it, leaves aggregates built on it dead and, if it
    // was the default output, makes the first remaining output the default
    // (none when no output remains), as servers do.
    void removeDevice(AudioObjectID device);
    // Makes a property missing: hasProperty false, reads fail.
    void removeProperty(AudioObjectID object, FourCharCode selector,
                        FourCharCode scope = AudioScope::global);

    // Process objects; all of these announce 'prs#' on the system object.
    AudioObjectID addProcess(std::int32_t pid);
    AudioObjectID addProcess(const ProcessProfile& profile);
    void removeProcess(AudioObjectID process);
    // The application renames itself (its bundle ID follows where the name is what identifies it).
    void renameProcess(AudioObjectID process, std::string bundleID, std::string name);
    // Announce 'piro' on the process (and 'prs#'), 'gone' on devices that start or stop
    // running, and 'tsrc' on taps that start or stop receiving. A tap receives
    // a process it takes (tapTakesProcess) that plays on the device an
    // aggregate of the tap plays on: the applications routed into the
    // pipeline. Playing opens an output stream, which stays open, paused,
    // after stopPlayback until closeOutputStream.
    void startPlayback(AudioObjectID process, AudioObjectID device);
    void stopPlayback(AudioObjectID process);
    void closeOutputStream(AudioObjectID process);
    // Announces 'over' on the device.
    void reportOverload(AudioObjectID device);
    // Why some audio passes the tap unlevelled; empty for none. Announces
    // 'unlv' on the system object when it changes.
    void setUnlevelledAudioReason(std::string reason);

    // Aggregates created from now on come alive this long after creation
    // (on the main dispatcher's clock) and announce 'livn' then.
    void setAggregateAliveDelay(Dispatcher::Duration delay) { aggregateAliveDelay_ = delay; }
    // Taps created from now on report this sample rate instead of the default
    // output's; 0 stands for a tap without a usable format.
    void overrideTapSampleRate(std::optional<double> rate) { tapSampleRateOverride_ = rate; }

    // Failure injection; `times` = always (-1) for every call from now on.
    void injectFailure(HalOperation operation, OSStatus status, int times = 1,
                       FourCharCode selector = 0, AudioObjectID object = 0);
    void clearFailures() { failures_.clear(); }
    // Runs `action` once, inside the next call of `operation`, before the
    // call takes effect: a change that races with the engine's own call.
    void runDuringNextCall(HalOperation operation, std::function<void()> action);
    // Changes of `selector` are no longer announced: a notification lost.
    void loseNotifications(FourCharCode selector) { listeners_->mute(selector); }

    // State for tests to check.
    std::vector<AudioObjectID> taps() const;
    std::optional<TapDescription> tapDescription(AudioObjectID tap) const;
    // Whether the tap takes what the process plays.
    bool tapTakes(AudioObjectID tap, AudioObjectID process) const;
    std::vector<AudioObjectID> aggregateDevices() const;
    std::optional<AggregateDeviceDescription> aggregateDescription(AudioObjectID device) const;
    std::optional<AudioObjectID> deviceWithUID(const std::string& uid) const;
    bool deviceExists(AudioObjectID device) const { return devices_.contains(device); }
    std::size_t ioProcCount(AudioObjectID device) const;
    std::size_t startedIOProcCount(AudioObjectID device) const;
    bool isIOProcStarted(AudioObjectID device, AudioDeviceIOProcID procID) const;
    std::size_t listenerCount(AudioObjectID object, FourCharCode selector) const;
    std::size_t listenerCount() const { return listeners_->count(); }
    // The frames last passed to setPropertyData for 'fsiz', before clamping.
    std::optional<std::uint32_t> lastBufferFrameSizeSet(AudioObjectID device) const;
    // The delay last written to an aggregate's output latency, if any.
    std::optional<std::uint32_t> reportedProcessingLatency(AudioObjectID aggregate) const;

    // Manual IO: runs every started proc of the device once, on the calling
    // thread; how many ran. Do not mix with a device running on its thread.
    int runIOCycle(AudioObjectID device, const AudioBufferList& input, AudioBufferList& output);

    // Threaded IO: from now on every device with a started proc runs on its
    // own thread (see ThreadedClockOptions), at the rate and buffer size it
    // reports when its thread starts; a device reporting 0 for either does not
    // run. The thread stops when the last proc stops or goes, with the device,
    // or in stopDeviceThreads().
    void runDevicesOnThreads(ThreadedClockOptions options);
    void stopDeviceThreads();
    bool isRunningOnThread(AudioObjectID device) const;
    // Cycles the device has completed, manual and threaded.
    std::uint64_t cycleCount(AudioObjectID device) const;
    // Blocks until the device has completed `cycles` cycles; false on timeout.
    bool waitForCycles(AudioObjectID device, std::uint64_t cycles,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

private:
    struct Process {
        ProcessProfile profile;
        AudioObjectID playingOn = kAudioObjectUnknown;
        bool hasOutputStream = false;
    };
    struct Tap {
        TapDescription description;
        double sampleRate = 0;
        std::uint32_t channels = 2;
    };

    SimulatedDevice& device(AudioObjectID id);
    const SimulatedDevice& device(AudioObjectID id) const;
    Process& process(AudioObjectID id);
    // Throws std::invalid_argument unless the device exists.
    void expectDevice(AudioObjectID id) const;
    bool objectExists(AudioObjectID object) const;
    // kAudioHardwareBadObjectError for no object, BadDeviceError for another kind.
    OSStatus deviceStatus(AudioObjectID id) const;

    std::optional<SimulatedPropertyValue> property(AudioObjectID object,
                                                   const AudioObjectPropertyAddress& address) const;
    std::optional<SimulatedPropertyValue>
    systemProperty(const AudioObjectPropertyAddress& address) const;
    std::optional<SimulatedPropertyValue>
    processProperty(const Process& process, const AudioObjectPropertyAddress& address) const;
    std::optional<SimulatedPropertyValue>
    tapProperty(AudioObjectID tap, const AudioObjectPropertyAddress& address) const;
    std::optional<SimulatedPropertyValue>
    deviceProperty(AudioObjectID id, const AudioObjectPropertyAddress& address) const;
    // Status of a read before any data moves: bad object, missing property.
    OSStatus lookUp(AudioObjectID object, const AudioObjectPropertyAddress& address,
                    std::optional<SimulatedPropertyValue>& value) const;

    bool isAlive(const SimulatedDevice& device) const;
    bool isRunningSomewhere(AudioObjectID device) const;
    bool tapHasRunningSource(AudioObjectID tap) const;
    // Runs the action queued for `operation`, if any.
    void runQueuedAction(HalOperation operation);
    AudioObjectID newObjectID() { return nextObjectID_++; }
    AudioObjectID insertDevice(std::unique_ptr<SimulatedDevice> device);
    void eraseDevice(AudioObjectID id);
    // Runs a change and announces 'gone' on the devices whose running state it flipped.
    void trackRunningState(std::initializer_list<AudioObjectID> devices,
                           const std::function<void()>& change);
    // Runs a change and announces 'tsrc' on the taps whose sources it started or stopped.
    void trackTapSources(const std::function<void()>& change);
    void setPlayback(AudioObjectID process, AudioObjectID device);
    void changeRate(AudioObjectID id, double rate);
    void setAlive(AudioObjectID id, bool alive);
    void startClockIfNeeded(AudioObjectID id);
    void stopClock(AudioObjectID id);

    Dispatcher& dispatcher_;
    const std::int32_t ownPID_;
    std::shared_ptr<SimulatedListenerRegistry> listeners_;
    SimulatedFailurePlan failures_;
    std::vector<std::pair<HalOperation, std::function<void()>>> queuedActions_;

    AudioObjectID nextObjectID_ = 100;
    AudioDeviceIOProcID nextProcID_ = 1;
    std::map<AudioObjectID, Process> processes_;
    std::map<AudioObjectID, Tap> taps_;
    std::map<AudioObjectID, std::unique_ptr<SimulatedDevice>> devices_;
    std::set<std::tuple<AudioObjectID, FourCharCode, FourCharCode>> removedProperties_;
    AudioObjectID defaultOutput_ = kAudioObjectUnknown;
    std::string unlevelledAudioReason_;

    Dispatcher::Duration aggregateAliveDelay_{};
    std::optional<double> tapSampleRateOverride_;
    std::optional<ThreadedClockOptions> threadedClocks_;
    // Lets work posted to the dispatcher notice that the server is gone.
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};

} // namespace quellora
