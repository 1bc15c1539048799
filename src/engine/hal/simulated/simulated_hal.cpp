#include "engine/hal/simulated/simulated_hal.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace quellora {
namespace {

constexpr std::uint32_t kLinearPCM = fourCharCode("lpcm");
constexpr std::uint32_t kFormatFlagsFloatPacked = 0x1 | 0x8;

bool isGlobal(const AudioObjectPropertyAddress& address) {
    return address.mScope == AudioScope::global;
}

// The scopes at which a device has each of its properties.
bool deviceHasPropertyAtScope(const AudioObjectPropertyAddress& address) {
    switch (address.mSelector) {
    case AudioProperty::bufferFrameSize:
        return address.mScope == AudioScope::global || address.mScope == AudioScope::input;
    case AudioProperty::streams:
        return address.mScope == AudioScope::input;
    case AudioProperty::latency:
    case AudioProperty::safetyOffset:
    case AudioProperty::preferredChannelLayout:
        return address.mScope == AudioScope::output;
    default:
        return isGlobal(address);
    }
}

// The server stores sizes as whole frames, inside the range where it has one.
std::uint32_t clampToRange(std::uint32_t frames, const std::optional<FrameSizeRange>& range) {
    if (!range || !(range->minimum <= range->maximum) || range->maximum < 1) {
        return frames;
    }
    const auto minimum = std::max(1.0, std::ceil(range->minimum));
    const auto maximum = std::floor(range->maximum);
    return static_cast<std::uint32_t>(std::clamp(static_cast<double>(frames), minimum, maximum));
}

} // namespace

SimulatedHal::SimulatedHal(Dispatcher& mainDispatcher, std::int32_t ownPID)
    : dispatcher_(mainDispatcher)
    , ownPID_(ownPID)
    , listeners_(std::make_shared<SimulatedListenerRegistry>(mainDispatcher)) {}

SimulatedHal::~SimulatedHal() {
    stopDeviceThreads();
}

// Properties

bool SimulatedHal::hasProperty(AudioObjectID object, const AudioObjectPropertyAddress& address) {
    return property(object, address).has_value();
}

OSStatus SimulatedHal::getPropertyDataSize(AudioObjectID object,
                                           const AudioObjectPropertyAddress& address,
                                           std::uint32_t& size) {
    std::optional<SimulatedPropertyValue> value;
    if (const auto status = lookUp(object, address, value)) {
        return status;
    }
    if (value->isString()) {
        return kAudioHardwareIllegalOperationError;
    }
    size = value->byteSize();
    return kAudioHardwareNoError;
}

OSStatus SimulatedHal::getPropertyData(AudioObjectID object,
                                       const AudioObjectPropertyAddress& address,
                                       std::uint32_t& size, void* data) {
    std::optional<SimulatedPropertyValue> value;
    if (const auto status = lookUp(object, address, value)) {
        return status;
    }
    return value->copyTo(size, data);
}

OSStatus SimulatedHal::getPropertyString(AudioObjectID object,
                                         const AudioObjectPropertyAddress& address,
                                         std::optional<std::string>& text) {
    std::optional<SimulatedPropertyValue> value;
    if (const auto status = lookUp(object, address, value)) {
        return status;
    }
    if (!value->isString()) {
        return kAudioHardwareIllegalOperationError;
    }
    text = value->text();
    return kAudioHardwareNoError;
}

OSStatus SimulatedHal::setPropertyData(AudioObjectID object,
                                       const AudioObjectPropertyAddress& address,
                                       std::uint32_t size, const void* data) {
    std::optional<SimulatedPropertyValue> value;
    if (const auto status = lookUp(object, address, value)) {
        return status;
    }
    // The engine writes the buffer frame size, and an aggregate's output
    // latency to report its processing delay.
    const bool reportsLatency = address.mSelector == AudioProperty::latency &&
                                devices_.contains(object) && device(object).aggregate.has_value();
    if (!devices_.contains(object) ||
        (address.mSelector != AudioProperty::bufferFrameSize && !reportsLatency)) {
        return kAudioHardwareIllegalOperationError;
    }
    std::uint32_t frames = 0;
    if (size != sizeof frames) {
        return kAudioHardwareBadPropertySizeError;
    }
    if (data == nullptr) {
        return kAudioHardwareIllegalOperationError;
    }
    std::memcpy(&frames, data, sizeof frames);
    auto& target = device(object);
    if (reportsLatency) {
        target.reportedProcessingLatency = frames;
        return kAudioHardwareNoError;
    }
    if (frames == 0) {
        return kAudioHardwareIllegalOperationError;
    }
    target.bufferFrameSize = clampToRange(frames, target.bufferFrameSizeRange);
    return kAudioHardwareNoError;
}

OSStatus SimulatedHal::deviceStatus(AudioObjectID id) const {
    if (devices_.contains(id)) {
        return kAudioHardwareNoError;
    }
    return objectExists(id) ? kAudioHardwareBadDeviceError : kAudioHardwareBadObjectError;
}

OSStatus SimulatedHal::lookUp(AudioObjectID object, const AudioObjectPropertyAddress& address,
                              std::optional<SimulatedPropertyValue>& value) const {
    if (!objectExists(object)) {
        return kAudioHardwareBadObjectError;
    }
    value = property(object, address);
    return value ? kAudioHardwareNoError : kAudioHardwareUnknownPropertyError;
}

std::optional<SimulatedPropertyValue>
SimulatedHal::property(AudioObjectID object, const AudioObjectPropertyAddress& address) const {
    if (object == kAudioObjectSystemObject) {
        return systemProperty(address);
    }
    if (const auto found = processes_.find(object); found != processes_.end()) {
        return processProperty(found->second, address);
    }
    if (taps_.contains(object)) {
        return tapProperty(object, address);
    }
    if (devices_.contains(object)) {
        return deviceProperty(object, address);
    }
    return std::nullopt;
}

std::optional<SimulatedPropertyValue>
SimulatedHal::systemProperty(const AudioObjectPropertyAddress& address) const {
    if (!isGlobal(address)) {
        return std::nullopt;
    }
    switch (address.mSelector) {
    case AudioProperty::processObjectList: {
        std::vector<AudioObjectID> list;
        for (const auto& [id, entry] : processes_) {
            list.push_back(id);
        }
        return SimulatedPropertyValue::array(list);
    }
    case AudioProperty::defaultOutputDevice:
        return SimulatedPropertyValue::fixed(defaultOutput_);
    case AudioProperty::unlevelledAudioReason:
        return SimulatedPropertyValue::string(unlevelledAudioReason_);
    default:
        return std::nullopt;
    }
}

std::optional<SimulatedPropertyValue>
SimulatedHal::processProperty(const Process& entry,
                              const AudioObjectPropertyAddress& address) const {
    if (!isGlobal(address)) {
        return std::nullopt;
    }
    const auto text = [](const std::string& value) {
        return SimulatedPropertyValue::string(value.empty() ? std::nullopt
                                                            : std::optional<std::string>(value));
    };
    switch (address.mSelector) {
    case AudioProperty::processPID:
        return SimulatedPropertyValue::fixed(entry.profile.pid);
    case AudioProperty::processIsRunningOutput:
        return SimulatedPropertyValue::fixed(std::uint32_t{entry.playingOn != kAudioObjectUnknown});
    case AudioProperty::processBundleID:
        return text(entry.profile.bundleID);
    case AudioProperty::objectName:
        return text(entry.profile.name);
    case AudioProperty::processIconName:
        return text(entry.profile.iconName);
    case AudioProperty::processBinary:
        return text(entry.profile.binary);
    case AudioProperty::processDirectOutputReason:
        return SimulatedPropertyValue::fixed(
            static_cast<std::uint32_t>(entry.profile.directOutputReason));
    case AudioProperty::processHasOutputStream:
        return SimulatedPropertyValue::fixed(std::uint32_t{entry.hasOutputStream});
    case AudioProperty::processOutputDeviceName:
        return text(entry.profile.outputDeviceName);
    default:
        return std::nullopt;
    }
}

std::optional<SimulatedPropertyValue>
SimulatedHal::tapProperty(AudioObjectID id, const AudioObjectPropertyAddress& address) const {
    if (!isGlobal(address)) {
        return std::nullopt;
    }
    if (address.mSelector == AudioProperty::tapHasRunningSource) {
        return SimulatedPropertyValue::fixed(std::uint32_t{tapHasRunningSource(id)});
    }
    if (address.mSelector != AudioProperty::tapFormat) {
        return std::nullopt;
    }
    const auto& entry = taps_.at(id);
    const std::uint32_t channels = entry.channels;
    AudioStreamBasicDescription format;
    format.mSampleRate = entry.sampleRate;
    format.mFormatID = kLinearPCM;
    format.mFormatFlags = kFormatFlagsFloatPacked;
    format.mBytesPerPacket = channels * sizeof(float);
    format.mFramesPerPacket = 1;
    format.mBytesPerFrame = channels * sizeof(float);
    format.mChannelsPerFrame = channels;
    format.mBitsPerChannel = 32;
    return SimulatedPropertyValue::fixed(format);
}

std::optional<SimulatedPropertyValue>
SimulatedHal::deviceProperty(AudioObjectID id, const AudioObjectPropertyAddress& address) const {
    if (!deviceHasPropertyAtScope(address)) {
        return std::nullopt;
    }
    const auto& entry = device(id);
    switch (address.mSelector) {
    case AudioProperty::deviceUID:
        return SimulatedPropertyValue::string(entry.uid);
    case AudioProperty::objectName:
        return SimulatedPropertyValue::string(entry.name);
    case AudioProperty::deviceIsAlive:
        return SimulatedPropertyValue::fixed(std::uint32_t{isAlive(entry)});
    case AudioProperty::nominalSampleRate:
        return SimulatedPropertyValue::fixed(entry.nominalRate);
    case AudioProperty::bufferFrameSize:
        return SimulatedPropertyValue::fixed(entry.bufferFrameSize);
    case AudioProperty::bufferFrameSizeRange:
        if (!entry.bufferFrameSizeRange) {
            return std::nullopt;
        }
        return SimulatedPropertyValue::fixed(*entry.bufferFrameSizeRange);
    case AudioProperty::transportType:
        return SimulatedPropertyValue::fixed(entry.transportType);
    case AudioProperty::streams:
        return SimulatedPropertyValue::array(entry.inputStreams);
    case AudioProperty::latency:
        return SimulatedPropertyValue::fixed(
            entry.reportedProcessingLatency.value_or(entry.latencyFrames));
    case AudioProperty::safetyOffset:
        return SimulatedPropertyValue::fixed(entry.safetyOffsetFrames);
    case AudioProperty::deviceIsRunningSomewhere:
        return SimulatedPropertyValue::fixed(std::uint32_t{isRunningSomewhere(id)});
    case AudioProperty::preferredChannelLayout: {
        if (entry.aggregate) {
            return std::nullopt;
        }
        const auto count = static_cast<std::uint32_t>(entry.channelLabels.size());
        std::vector<std::byte> bytes(AudioChannelLayout::sizeFor(count));
        const std::uint32_t header[3] = {AudioChannelLayout::useChannelDescriptions, 0, count};
        std::memcpy(bytes.data(), header, sizeof header);
        for (std::uint32_t c = 0; c < count; ++c) {
            AudioChannelDescription description;
            description.mChannelLabel = entry.channelLabels[c];
            std::memcpy(bytes.data() + AudioChannelLayout::sizeFor(c), &description,
                        sizeof description);
        }
        return SimulatedPropertyValue::record(std::move(bytes));
    }
    default:
        return std::nullopt;
    }
}

// Taps and aggregates

OSStatus SimulatedHal::createProcessTap(const TapDescription& description, AudioObjectID& tap) {
    const auto defaultRate =
        devices_.contains(defaultOutput_) ? device(defaultOutput_).nominalRate : 0.0;
    std::uint32_t channels = 2;
    if (!description.stereo) {
        // Mixed as for that device's output.
        const auto named =
            description.deviceUID ? deviceWithUID(*description.deviceUID) : std::nullopt;
        if (!named || description.stream != 0) {
            return kAudioHardwareBadDeviceError;
        }
        channels = device(*named).outputChannelCount;
    }
    tap = newObjectID();
    taps_.emplace(tap, Tap{description, defaultRate, channels});
    return kAudioHardwareNoError;
}

OSStatus SimulatedHal::destroyProcessTap(AudioObjectID tap) {
    if (taps_.erase(tap) == 0) {
        return kAudioHardwareBadObjectError;
    }
    return kAudioHardwareNoError;
}

OSStatus SimulatedHal::setTapDescription(AudioObjectID tap, const TapDescription& description) {
    const auto found = taps_.find(tap);
    if (found == taps_.end()) {
        return kAudioHardwareBadObjectError;
    }
    trackTapSources([&] {
        const auto uuid = found->second.description.uuid;
        found->second.description = description;
        found->second.description.uuid = uuid;
    });
    return kAudioHardwareNoError;
}

OSStatus SimulatedHal::createAggregateDevice(const AggregateDeviceDescription& description,
                                             AudioObjectID& result) {
    const auto main = deviceWithUID(description.mainSubDevice);
    if (!main) {
        return kAudioHardwareBadDeviceError;
    }
    std::uint32_t tapChannels = 2;
    for (const auto& subTap : description.taps) {
        const auto named = std::find_if(taps_.begin(), taps_.end(), [&](const auto& entry) {
            return entry.second.description.uuid.uppercaseString() == subTap.uid;
        });
        if (named == taps_.end()) {
            return kAudioHardwareBadDeviceError;
        }
        tapChannels = named->second.channels;
    }
    if (description.uid.empty() || deviceWithUID(description.uid)) {
        return kAudioHardwareIllegalOperationError;
    }

    const auto& mainDevice = device(*main);
    auto aggregate = std::make_unique<SimulatedDevice>();
    aggregate->uid = description.uid;
    aggregate->nominalRate = mainDevice.nominalRate;
    aggregate->bufferFrameSize = mainDevice.bufferFrameSize;
    aggregate->bufferFrameSizeRange = mainDevice.bufferFrameSizeRange;
    aggregate->transportType = AudioTransport::aggregate;
    aggregate->latencyFrames = mainDevice.latencyFrames;
    aggregate->safetyOffsetFrames = mainDevice.safetyOffsetFrames;
    aggregate->outputChannelCount = aggregateChannelCount;
    aggregate->tapChannelCount = tapChannels;
    for (std::size_t index = 0; index < description.taps.size(); ++index) {
        aggregate->inputStreams.push_back(newObjectID());
    }
    aggregate->aggregate = description;
    aggregate->mainDevice = *main;
    aggregate->followsMainRate = true;
    result = insertDevice(std::move(aggregate));

    return kAudioHardwareNoError;
}

OSStatus SimulatedHal::destroyAggregateDevice(AudioObjectID id) {
    if (const auto status = deviceStatus(id)) {
        return status;
    }
    if (!device(id).aggregate) {
        return kAudioHardwareBadDeviceError;
    }
    eraseDevice(id);
    return kAudioHardwareNoError;
}

// IO procs

OSStatus SimulatedHal::createIOProcID(AudioObjectID id, AudioDeviceIOBlock block,
                                      AudioDeviceIOProcID& procID) {
    if (const auto status = deviceStatus(id)) {
        return status;
    }
    if (!block) {
        return kAudioHardwareIllegalOperationError;
    }
    procID = nextProcID_++;
    device(id).procs->add(procID, std::move(block));
    return kAudioHardwareNoError;
}

OSStatus SimulatedHal::destroyIOProcID(AudioObjectID id, AudioDeviceIOProcID procID) {
    if (const auto status = deviceStatus(id)) {
        return status;
    }
    auto& procs = *device(id).procs;
    bool removed = false;
    trackRunningState({id}, [&] { removed = procs.remove(procID); });
    if (!removed) {
        return kAudioHardwareIllegalOperationError;
    }
    if (procs.startedCount() == 0) {
        stopClock(id);
    }
    return kAudioHardwareNoError;
}

OSStatus SimulatedHal::deviceStart(AudioObjectID id, AudioDeviceIOProcID procID) {
    if (const auto status = deviceStatus(id)) {
        return status;
    }
    auto& target = device(id);
    if (!target.procs->contains(procID)) {
        return kAudioHardwareIllegalOperationError;
    }
    if (!isAlive(target)) {
        return kAudioHardwareNotRunningError;
    }
    trackRunningState({id}, [&] { target.procs->setStarted(procID, true); });
    startClockIfNeeded(id);
    return kAudioHardwareNoError;
}

OSStatus SimulatedHal::deviceStop(AudioObjectID id, AudioDeviceIOProcID procID) {
    if (const auto status = deviceStatus(id)) {
        return status;
    }
    auto& procs = *device(id).procs;
    if (!procs.contains(procID)) {
        return kAudioHardwareIllegalOperationError;
    }
    // Waits for a cycle in progress, so the proc is not called after this.
    trackRunningState({id}, [&] { procs.setStarted(procID, false); });
    if (procs.startedCount() == 0) {
        stopClock(id);
    }
    return kAudioHardwareNoError;
}

// Listeners

OSStatus SimulatedHal::addPropertyListener(AudioObjectID object,
                                           const AudioObjectPropertyAddress& address,
                                           AudioObjectPropertyListenerBlock block,
                                           AudioObjectPropertyListenerID& listener) {
    if (!objectExists(object)) {
        return kAudioHardwareBadObjectError;
    }
    if (!block) {
        return kAudioHardwareIllegalOperationError;
    }
    listener = listeners_->add(object, address, std::move(block));
    return kAudioHardwareNoError;
}

OSStatus SimulatedHal::removePropertyListener(AudioObjectID object,
                                              const AudioObjectPropertyAddress& address,
                                              AudioObjectPropertyListenerID listener) {
    if (listeners_->remove(object, address, listener)) {
        return kAudioHardwareNoError;
    }
    return objectExists(object) ? kAudioHardwareIllegalOperationError
                                : kAudioHardwareBadObjectError;
}

} // namespace quellora
