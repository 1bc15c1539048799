#pragma once

#include "base/dispatcher.h"
#include "engine/hal/audio_hal.h"
#include "engine/hal/simulated/simulated_device.h"
#include "engine/hal/simulated/simulated_device_clock.h"
#include "engine/hal/simulated/simulated_listener_registry.h"
#include "engine/hal/simulated/simulated_property_value.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
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

// A deterministic audio server in this process. Control operations and
// listener delivery happen on the main thread; IO procs run when
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
class SimulatedHal : public AudioHal {
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
    // Unplugs a device: announces 'livn' on it, stops its threads and procs
    // and the playback on it, leaves aggregates built on it dead and, if it
    // was the default output, makes the first remaining output the default
    // (none when no output remains), as servers do.
    void removeDevice(AudioObjectID device);
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

    // Whether the tap takes what the process plays.
    bool tapTakes(AudioObjectID tap, AudioObjectID process) const;
    std::optional<AudioObjectID> deviceWithUID(const std::string& uid) const;

    // Threaded IO: from now on every device with a started proc runs on its
    // own thread (see ThreadedClockOptions), at the rate and buffer size it
    // reports when its thread starts; a device reporting 0 for either does not
    // run. The thread stops when the last proc stops or goes, with the device,
    // or in stopDeviceThreads().
    void runDevicesOnThreads(ThreadedClockOptions options);
    void stopDeviceThreads();

private:
    // The tests' scripting and inspection of the server.
    friend class ScriptedHal;

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

    AudioObjectID nextObjectID_ = 100;
    AudioDeviceIOProcID nextProcID_ = 1;
    std::map<AudioObjectID, Process> processes_;
    std::map<AudioObjectID, Tap> taps_;
    std::map<AudioObjectID, std::unique_ptr<SimulatedDevice>> devices_;
    AudioObjectID defaultOutput_ = kAudioObjectUnknown;
    std::string unlevelledAudioReason_;

    std::optional<ThreadedClockOptions> threadedClocks_;
    // Lets work posted to the dispatcher notice that the server is gone.
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};

} // namespace quellora
