#include "support/scripted_hal.h"

#include <algorithm>
#include <stdexcept>

namespace quellora {

void ScriptedHal::injectFailure(HalOperation operation, OSStatus status, int times,
                                FourCharCode selector, AudioObjectID object) {
    if (status == kAudioHardwareNoError || (times < 1 && times != always)) {
        throw std::invalid_argument("ScriptedHal: a failure needs a status and a count");
    }
    failures_.push_back({operation, status, times, selector, object});
}

void ScriptedHal::runDuringNextCall(HalOperation operation, std::function<void()> action) {
    queuedActions_.emplace_back(operation, std::move(action));
}

void ScriptedHal::removeProperty(AudioObjectID object, FourCharCode selector, FourCharCode scope) {
    if (!objectExists(object)) {
        throw std::invalid_argument("ScriptedHal: no object with ID " + std::to_string(object));
    }
    removedProperties_.insert({object, selector, scope});
}

void ScriptedHal::setDeviceUID(AudioObjectID id, std::optional<std::string> uid) {
    device(id).uid = std::move(uid);
}

OSStatus ScriptedHal::script(HalOperation operation, AudioObjectID object, FourCharCode selector) {
    const auto queued =
        std::ranges::find(queuedActions_, operation, [](const auto& entry) { return entry.first; });
    if (queued != queuedActions_.end()) {
        const auto action = std::move(queued->second);
        queuedActions_.erase(queued);
        action();
    }
    const auto rule = std::ranges::find_if(failures_, [&](const FailureRule& candidate) {
        return candidate.operation == operation &&
               (candidate.selector == 0 || candidate.selector == selector) &&
               (candidate.object == 0 || candidate.object == object);
    });
    if (rule == failures_.end()) {
        return kAudioHardwareNoError;
    }
    const auto status = rule->status;
    if (rule->remaining != always && --rule->remaining == 0) {
        failures_.erase(rule);
    }
    return status;
}

bool ScriptedHal::isRemoved(AudioObjectID object, const AudioObjectPropertyAddress& address) {
    return removedProperties_.contains({object, address.mSelector, address.mScope}) &&
           SimulatedHal::hasProperty(object, address);
}

// State

std::vector<AudioObjectID> ScriptedHal::taps() const {
    std::vector<AudioObjectID> result;
    for (const auto& [id, entry] : taps_) {
        result.push_back(id);
    }
    return result;
}

std::optional<TapDescription> ScriptedHal::tapDescription(AudioObjectID tap) const {
    const auto found = taps_.find(tap);
    return found != taps_.end() ? std::optional(found->second.description) : std::nullopt;
}

std::vector<AudioObjectID> ScriptedHal::aggregateDevices() const {
    std::vector<AudioObjectID> result;
    for (const auto& [id, entry] : devices_) {
        if (entry->aggregate) {
            result.push_back(id);
        }
    }
    return result;
}

std::optional<AggregateDeviceDescription>
ScriptedHal::aggregateDescription(AudioObjectID id) const {
    const auto found = devices_.find(id);
    return found != devices_.end() ? found->second->aggregate : std::nullopt;
}

std::size_t ScriptedHal::ioProcCount(AudioObjectID id) const {
    return deviceExists(id) ? device(id).procs->count() : 0;
}

std::size_t ScriptedHal::startedIOProcCount(AudioObjectID id) const {
    return deviceExists(id) ? device(id).procs->startedCount() : 0;
}

std::optional<std::uint32_t> ScriptedHal::reportedProcessingLatency(AudioObjectID id) const {
    return deviceExists(id) ? device(id).reportedProcessingLatency : std::nullopt;
}

int ScriptedHal::runIOCycle(AudioObjectID id, const AudioBufferList& input,
                            AudioBufferList& output) {
    if (!deviceExists(id)) {
        return 0;
    }
    if (isRunningOnThread(id)) {
        throw std::logic_error("ScriptedHal: the device runs on its own thread");
    }
    return device(id).procs->runCycle(input, output);
}

bool ScriptedHal::isRunningOnThread(AudioObjectID id) const {
    return deviceExists(id) && device(id).clock != nullptr;
}

std::uint64_t ScriptedHal::cycleCount(AudioObjectID id) const {
    return deviceExists(id) ? device(id).procs->cycleCount() : 0;
}

bool ScriptedHal::waitForCycles(AudioObjectID id, std::uint64_t cycles,
                                std::chrono::milliseconds timeout) const {
    return deviceExists(id) && device(id).procs->waitForCycles(cycles, timeout);
}

// AudioHal

bool ScriptedHal::hasProperty(AudioObjectID object, const AudioObjectPropertyAddress& address) {
    return !isRemoved(object, address) && SimulatedHal::hasProperty(object, address);
}

OSStatus ScriptedHal::getPropertyDataSize(AudioObjectID object,
                                          const AudioObjectPropertyAddress& address,
                                          std::uint32_t& size) {
    if (const auto failure = script(HalOperation::getPropertyDataSize, object, address.mSelector)) {
        return failure;
    }
    return isRemoved(object, address) ? kAudioHardwareUnknownPropertyError
                                      : SimulatedHal::getPropertyDataSize(object, address, size);
}

OSStatus ScriptedHal::getPropertyData(AudioObjectID object,
                                      const AudioObjectPropertyAddress& address,
                                      std::uint32_t& size, void* data) {
    if (const auto failure = script(HalOperation::getPropertyData, object, address.mSelector)) {
        return failure;
    }
    return isRemoved(object, address) ? kAudioHardwareUnknownPropertyError
                                      : SimulatedHal::getPropertyData(object, address, size, data);
}

OSStatus ScriptedHal::getPropertyString(AudioObjectID object,
                                        const AudioObjectPropertyAddress& address,
                                        std::optional<std::string>& value) {
    if (const auto failure = script(HalOperation::getPropertyString, object, address.mSelector)) {
        return failure;
    }
    return isRemoved(object, address) ? kAudioHardwareUnknownPropertyError
                                      : SimulatedHal::getPropertyString(object, address, value);
}

OSStatus ScriptedHal::setPropertyData(AudioObjectID object,
                                      const AudioObjectPropertyAddress& address, std::uint32_t size,
                                      const void* data) {
    if (const auto failure = script(HalOperation::setPropertyData, object, address.mSelector)) {
        return failure;
    }
    return isRemoved(object, address) ? kAudioHardwareUnknownPropertyError
                                      : SimulatedHal::setPropertyData(object, address, size, data);
}

OSStatus ScriptedHal::createProcessTap(const TapDescription& description, AudioObjectID& tap) {
    if (const auto failure = script(HalOperation::createProcessTap)) {
        return failure;
    }
    const auto status = SimulatedHal::createProcessTap(description, tap);
    if (status == kAudioHardwareNoError && tapSampleRateOverride_) {
        taps_.at(tap).sampleRate = *tapSampleRateOverride_;
    }
    return status;
}

OSStatus ScriptedHal::destroyProcessTap(AudioObjectID tap) {
    const auto failure = script(HalOperation::destroyProcessTap, tap);
    return failure ? failure : SimulatedHal::destroyProcessTap(tap);
}

OSStatus ScriptedHal::setTapDescription(AudioObjectID tap, const TapDescription& description) {
    const auto failure = script(HalOperation::setTapDescription, tap);
    return failure ? failure : SimulatedHal::setTapDescription(tap, description);
}

OSStatus ScriptedHal::createAggregateDevice(const AggregateDeviceDescription& description,
                                            AudioObjectID& id) {
    if (const auto failure = script(HalOperation::createAggregateDevice)) {
        return failure;
    }
    const auto status = SimulatedHal::createAggregateDevice(description, id);
    if (status != kAudioHardwareNoError || aggregateAliveDelay_ <= Dispatcher::Duration::zero()) {
        return status;
    }
    device(id).aliveFrom = dispatcher_.now() + aggregateAliveDelay_;
    dispatcher_.postAfter(aggregateAliveDelay_, [this, lifetime = std::weak_ptr(lifetime_), id] {
        if (lifetime.lock() && deviceExists(id) && isAlive(device(id))) {
            listeners_->notify(id, AudioProperty::deviceIsAlive);
        }
    });
    return status;
}

OSStatus ScriptedHal::destroyAggregateDevice(AudioObjectID id) {
    const auto failure = script(HalOperation::destroyAggregateDevice, id);
    return failure ? failure : SimulatedHal::destroyAggregateDevice(id);
}

OSStatus ScriptedHal::createIOProcID(AudioObjectID id, AudioDeviceIOBlock block,
                                     AudioDeviceIOProcID& procID) {
    const auto failure = script(HalOperation::createIOProcID, id);
    return failure ? failure : SimulatedHal::createIOProcID(id, std::move(block), procID);
}

OSStatus ScriptedHal::destroyIOProcID(AudioObjectID id, AudioDeviceIOProcID procID) {
    const auto failure = script(HalOperation::destroyIOProcID, id);
    return failure ? failure : SimulatedHal::destroyIOProcID(id, procID);
}

OSStatus ScriptedHal::deviceStart(AudioObjectID id, AudioDeviceIOProcID procID) {
    const auto failure = script(HalOperation::deviceStart, id);
    return failure ? failure : SimulatedHal::deviceStart(id, procID);
}

OSStatus ScriptedHal::deviceStop(AudioObjectID id, AudioDeviceIOProcID procID) {
    const auto failure = script(HalOperation::deviceStop, id);
    return failure ? failure : SimulatedHal::deviceStop(id, procID);
}

OSStatus ScriptedHal::addPropertyListener(AudioObjectID object,
                                          const AudioObjectPropertyAddress& address,
                                          AudioObjectPropertyListenerBlock block,
                                          AudioObjectPropertyListenerID& listener) {
    if (const auto failure = script(HalOperation::addPropertyListener, object, address.mSelector)) {
        return failure;
    }
    if (block) {
        block = [muted = muted_, selector = address.mSelector, heard = std::move(block)] {
            if (!muted->contains(selector)) {
                heard();
            }
        };
    }
    return SimulatedHal::addPropertyListener(object, address, std::move(block), listener);
}

OSStatus ScriptedHal::removePropertyListener(AudioObjectID object,
                                             const AudioObjectPropertyAddress& address,
                                             AudioObjectPropertyListenerID listener) {
    const auto failure = script(HalOperation::removePropertyListener, object, address.mSelector);
    return failure ? failure : SimulatedHal::removePropertyListener(object, address, listener);
}

} // namespace quellora
