#include "engine/hal/simulated/simulated_hal.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace quellora {
namespace {

[[noreturn]] void noSuchObject(const char* kind, AudioObjectID object) {
    throw std::invalid_argument(std::string("SimulatedHal: no ") + kind + " with ID " +
                                std::to_string(object));
}

template <typename Map>
auto& entryOrThrow(Map& map, AudioObjectID id, const char* kind) {
    const auto found = map.find(id);
    if (found == map.end()) {
        noSuchObject(kind, id);
    }
    return found->second;
}

} // namespace

// Test controls

AudioObjectID SimulatedHal::addOutputDevice(const OutputDeviceProfile& profile) {
    if (!profile.uid.empty() && deviceWithUID(profile.uid)) {
        throw std::invalid_argument("SimulatedHal: a device with UID " + profile.uid +
                                    " exists already");
    }
    auto entry = std::make_unique<SimulatedDevice>();
    entry->aliveFlag = profile.alive;
    if (!profile.name.empty()) {
        entry->name = profile.name;
    }
    entry->nominalRate = profile.nominalSampleRate;
    entry->bufferFrameSize = profile.bufferFrameSize;
    entry->bufferFrameSizeRange = profile.bufferFrameSizeRange;
    entry->transportType = profile.transportType;
    for (std::uint32_t index = 0; index < profile.inputStreamCount; ++index) {
        entry->inputStreams.push_back(newObjectID());
    }
    entry->latencyFrames = profile.latencyFrames;
    entry->safetyOffsetFrames = profile.safetyOffsetFrames;
    entry->channelLabels = profile.channelLabels.empty()
                               ? usualChannelLabels(profile.outputChannelCount)
                               : profile.channelLabels;
    entry->outputChannelCount = static_cast<std::uint32_t>(entry->channelLabels.size());
    const auto id = insertDevice(std::move(entry));
    device(id).uid = profile.uid.empty() ? "simulated-output-" + std::to_string(id) : profile.uid;
    return id;
}

void SimulatedHal::setDefaultOutput(AudioObjectID id) {
    if (id != kAudioObjectUnknown) {
        expectDevice(id);
    }
    if (std::exchange(defaultOutput_, id) != id) {
        listeners_->notify(kAudioObjectSystemObject, AudioProperty::defaultOutputDevice);
    }
}

void SimulatedHal::setDeviceAlive(AudioObjectID id, bool alive) {
    expectDevice(id);
    setAlive(id, alive);
}

void SimulatedHal::setNominalSampleRate(AudioObjectID id, double rate) {
    device(id).followsMainRate = false;
    changeRate(id, rate);
}

std::vector<std::uint32_t> SimulatedHal::usualChannelLabels(std::uint32_t channels) {
    namespace Label = AudioChannelLabel;
    switch (channels) {
    case 1:
        return {Label::mono};
    case 2:
        return {Label::left, Label::right};
    case 3:
        return {Label::left, Label::right, Label::center};
    case 4:
        return {Label::left, Label::right, Label::rearSurroundLeft, Label::rearSurroundRight};
    case 5:
        return {Label::left, Label::right, Label::center, Label::rearSurroundLeft,
                Label::rearSurroundRight};
    case 6:
        return {Label::left,
                Label::right,
                Label::center,
                Label::lfeScreen,
                Label::rearSurroundLeft,
                Label::rearSurroundRight};
    case 7:
        return {Label::left,           Label::right,        Label::center,       Label::lfeScreen,
                Label::centerSurround, Label::leftSurround, Label::rightSurround};
    case 8:
        return {Label::left,
                Label::right,
                Label::center,
                Label::lfeScreen,
                Label::rearSurroundLeft,
                Label::rearSurroundRight,
                Label::leftSurround,
                Label::rightSurround};
    default: {
        std::vector<std::uint32_t> labels;
        for (std::uint32_t c = 0; c < channels; ++c) {
            labels.push_back(Label::discrete0 + c);
        }
        return labels;
    }
    }
}

void SimulatedHal::setChannelLayout(AudioObjectID id, std::vector<std::uint32_t> labels) {
    auto& target = device(id);
    target.outputChannelCount = static_cast<std::uint32_t>(labels.size());
    target.channelLabels = std::move(labels);
    listeners_->notify(id, AudioProperty::preferredChannelLayout, AudioScope::output);
}

void SimulatedHal::removeDevice(AudioObjectID id) {
    expectDevice(id);
    listeners_->notify(id, AudioProperty::deviceIsAlive);
    eraseDevice(id);
}

AudioObjectID SimulatedHal::addProcess(std::int32_t pid) {
    return addProcess(ProcessProfile{.pid = pid});
}

AudioObjectID SimulatedHal::addProcess(const ProcessProfile& profile) {
    const auto id = newObjectID();
    processes_.emplace(id, Process{profile, kAudioObjectUnknown, false});
    listeners_->notify(kAudioObjectSystemObject, AudioProperty::processObjectList);
    return id;
}

void SimulatedHal::renameProcess(AudioObjectID id, std::string bundleID, std::string name) {
    auto& entry = process(id);
    trackTapSources([&] {
        entry.profile.bundleID = std::move(bundleID);
        entry.profile.name = std::move(name);
    });
    listeners_->notify(kAudioObjectSystemObject, AudioProperty::processObjectList);
}

void SimulatedHal::setUnlevelledAudioReason(std::string reason) {
    if (std::exchange(unlevelledAudioReason_, std::move(reason)) != unlevelledAudioReason_) {
        listeners_->notify(kAudioObjectSystemObject, AudioProperty::unlevelledAudioReason);
    }
}

void SimulatedHal::closeOutputStream(AudioObjectID id) {
    setPlayback(id, kAudioObjectUnknown);
    if (std::exchange(process(id).hasOutputStream, false)) {
        listeners_->notify(kAudioObjectSystemObject, AudioProperty::processObjectList);
    }
}

void SimulatedHal::removeProcess(AudioObjectID id) {
    setPlayback(id, kAudioObjectUnknown);
    processes_.erase(id);
    listeners_->notify(kAudioObjectSystemObject, AudioProperty::processObjectList);
}

void SimulatedHal::startPlayback(AudioObjectID processID, AudioObjectID deviceID) {
    expectDevice(deviceID);
    setPlayback(processID, deviceID);
    if (!std::exchange(process(processID).hasOutputStream, true)) {
        listeners_->notify(kAudioObjectSystemObject, AudioProperty::processObjectList);
    }
}

void SimulatedHal::stopPlayback(AudioObjectID processID) {
    setPlayback(processID, kAudioObjectUnknown);
}

void SimulatedHal::reportOverload(AudioObjectID id) {
    expectDevice(id);
    listeners_->notify(id, AudioProperty::processorOverload);
}

std::optional<AudioObjectID> SimulatedHal::deviceWithUID(const std::string& uid) const {
    for (const auto& [id, entry] : devices_) {
        if (entry->uid == uid) {
            return id;
        }
    }
    return std::nullopt;
}

// Threaded IO

void SimulatedHal::runDevicesOnThreads(ThreadedClockOptions options) {
    if (!(options.timeScale > 0) || !(options.aggregateDrift > -1) || !(options.outputDrift > -1)) {
        throw std::invalid_argument("SimulatedHal: clocks need a positive rate");
    }
    threadedClocks_ = std::move(options);
    for (const auto& [id, entry] : devices_) {
        startClockIfNeeded(id);
    }
}

void SimulatedHal::stopDeviceThreads() {
    for (const auto& [id, entry] : devices_) {
        stopClock(id);
    }
    threadedClocks_.reset();
}

// A device without a usable rate or buffer size has no clock to run on.
void SimulatedHal::startClockIfNeeded(AudioObjectID id) {
    auto& target = device(id);
    const auto frames = target.bufferFrameSize;
    if (!threadedClocks_ || target.clock || target.procs->startedCount() == 0 ||
        !(target.nominalRate > 0) || frames == 0) {
        return;
    }
    const auto& options = *threadedClocks_;
    const bool isAggregate = target.aggregate.has_value();
    const auto drift = isAggregate ? options.aggregateDrift : options.outputDrift;

    SimulatedDeviceClock::Setup setup;
    setup.period = std::chrono::duration<double>(
        static_cast<double>(frames) / (target.nominalRate * (1.0 + drift)) / options.timeScale);
    if (isAggregate) {
        setup.input = SimulatedBufferList::interleaved(target.tapChannelCount, frames);
        setup.fillInput = options.tapSource;
    }
    setup.output = SimulatedBufferList::interleaved(target.outputChannelCount, frames);
    if (!isAggregate && options.outputSink) {
        setup.drainOutput = [sink = options.outputSink, id](const AudioBufferList& output) {
            sink(id, output);
        };
    }
    target.clock = std::make_unique<SimulatedDeviceClock>(target.procs, std::move(setup));
}

void SimulatedHal::stopClock(AudioObjectID id) {
    auto& target = device(id);
    if (target.clock) {
        target.clock->stop();
        target.clock.reset();
    }
}

// Object bookkeeping

SimulatedDevice& SimulatedHal::device(AudioObjectID id) {
    return *entryOrThrow(devices_, id, "device");
}

const SimulatedDevice& SimulatedHal::device(AudioObjectID id) const {
    return *entryOrThrow(devices_, id, "device");
}

SimulatedHal::Process& SimulatedHal::process(AudioObjectID id) {
    return entryOrThrow(processes_, id, "process");
}

void SimulatedHal::expectDevice(AudioObjectID id) const {
    device(id);
}

bool SimulatedHal::objectExists(AudioObjectID object) const {
    return object == kAudioObjectSystemObject || processes_.contains(object) ||
           taps_.contains(object) || devices_.contains(object);
}

bool SimulatedHal::isAlive(const SimulatedDevice& entry) const {
    return entry.aliveFlag && dispatcher_.now() >= entry.aliveFrom;
}

bool SimulatedHal::tapHasRunningSource(AudioObjectID tap) const {
    const auto& description = taps_.at(tap).description;
    const auto uid = description.uuid.uppercaseString();
    const auto playsInto = [&](AudioObjectID device) {
        return std::any_of(devices_.begin(), devices_.end(), [&](const auto& entry) {
            const auto& aggregate = entry.second->aggregate;
            return aggregate && entry.second->mainDevice == device &&
                   std::any_of(aggregate->taps.begin(), aggregate->taps.end(),
                               [&](const auto& subTap) { return subTap.uid == uid; });
        });
    };
    return std::any_of(processes_.begin(), processes_.end(), [&](const auto& entry) {
        return entry.second.playingOn != kAudioObjectUnknown && tapTakes(tap, entry.first) &&
               playsInto(entry.second.playingOn);
    });
}

bool SimulatedHal::tapTakes(AudioObjectID tap, AudioObjectID processID) const {
    const auto& profile = entryOrThrow(processes_, processID, "process").profile;
    return tapTakesProcess(entryOrThrow(taps_, tap, "tap").description, processID, profile.bundleID,
                           profile.directOutputReason);
}

bool SimulatedHal::isRunningSomewhere(AudioObjectID id) const {
    return device(id).procs->startedCount() > 0 ||
           std::any_of(processes_.begin(), processes_.end(),
                       [id](const auto& entry) { return entry.second.playingOn == id; });
}

AudioObjectID SimulatedHal::insertDevice(std::unique_ptr<SimulatedDevice> entry) {
    const auto id = newObjectID();
    devices_.emplace(id, std::move(entry));
    return id;
}

void SimulatedHal::eraseDevice(AudioObjectID id) {
    stopClock(id);
    device(id).procs->clear();
    devices_.erase(id);

    // What depended on the device, announced as it changes.
    for (auto& [processID, entry] : processes_) {
        if (entry.playingOn == id) {
            setPlayback(processID, kAudioObjectUnknown);
        }
    }
    if (defaultOutput_ == id) {
        const auto output = std::find_if(devices_.begin(), devices_.end(), [](const auto& entry) {
            return !entry.second->aggregate;
        });
        setDefaultOutput(output != devices_.end() ? output->first : kAudioObjectUnknown);
    }
    for (auto& [aggregateID, entry] : devices_) {
        if (entry->mainDevice == id) {
            entry->mainDevice = kAudioObjectUnknown;
            entry->followsMainRate = false;
            setAlive(aggregateID, false);
        }
    }
}

void SimulatedHal::setPlayback(AudioObjectID processID, AudioObjectID deviceID) {
    auto& entry = process(processID);
    const auto previous = entry.playingOn;
    if (previous == deviceID) {
        return;
    }
    trackTapSources([&] {
        trackRunningState({previous, deviceID}, [&] { entry.playingOn = deviceID; });
    });
    if ((previous == kAudioObjectUnknown) != (deviceID == kAudioObjectUnknown)) {
        listeners_->notify(processID, AudioProperty::processIsRunningOutput);
        listeners_->notify(kAudioObjectSystemObject, AudioProperty::processObjectList);
    }
}

void SimulatedHal::changeRate(AudioObjectID id, double rate) {
    auto& target = device(id);
    if (target.nominalRate == rate) {
        return;
    }
    target.nominalRate = rate;
    listeners_->notify(id, AudioProperty::nominalSampleRate);
    for (const auto& [aggregateID, entry] : devices_) {
        if (entry->mainDevice == id && entry->followsMainRate) {
            changeRate(aggregateID, rate);
        }
    }
}

void SimulatedHal::setAlive(AudioObjectID id, bool alive) {
    auto& target = device(id);
    const bool wasAlive = isAlive(target);
    target.aliveFlag = alive;
    if (isAlive(target) != wasAlive) {
        listeners_->notify(id, AudioProperty::deviceIsAlive);
    }
}

void SimulatedHal::trackTapSources(const std::function<void()>& change) {
    std::vector<std::pair<AudioObjectID, bool>> before;
    for (const auto& [id, entry] : taps_) {
        before.emplace_back(id, tapHasRunningSource(id));
    }
    change();
    for (const auto& [id, wasReceiving] : before) {
        if (taps_.contains(id) && tapHasRunningSource(id) != wasReceiving) {
            listeners_->notify(id, AudioProperty::tapHasRunningSource);
        }
    }
}

void SimulatedHal::trackRunningState(std::initializer_list<AudioObjectID> ids,
                                     const std::function<void()>& change) {
    std::vector<std::pair<AudioObjectID, bool>> before;
    for (const auto id : ids) {
        if (devices_.contains(id)) {
            before.emplace_back(id, isRunningSomewhere(id));
        }
    }
    change();
    for (const auto& [id, wasRunning] : before) {
        if (devices_.contains(id) && isRunningSomewhere(id) != wasRunning) {
            listeners_->notify(id, AudioProperty::deviceIsRunningSomewhere);
        }
    }
}

} // namespace quellora
