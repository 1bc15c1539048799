#include "engine/audio_applications.h"

#include "engine/device_queries.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace quellora {
namespace {

// Case-insensitive, so that "audacity" sorts beside "Audacity".
std::string sortKey(const std::string& name) {
    std::string key = name;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return key;
}

} // namespace

std::vector<AudioApplication> readAudioApplications(AudioHal& hal) {
    const auto ownPID = hal.ownProcessID();
    std::map<std::string, AudioApplication> byBundleID;
    for (const auto process : readProcessObjectList(hal)) {
        const auto uint32 = [&](FourCharCode selector) {
            return audioObjectUInt32(hal, process, selector, AudioScope::global).value_or(0);
        };
        const auto pid =
            audioObjectUInt32(hal, process, AudioProperty::processPID, AudioScope::global);
        if (uint32(AudioProperty::processHasOutputStream) == 0 ||
            (pid && static_cast<std::int32_t>(*pid) == ownPID)) {
            continue;
        }
        const auto bundleID = audioObjectString(hal, process, AudioProperty::processBundleID);
        if (!bundleID) {
            continue; // nothing to remember a choice by
        }
        auto& application = byBundleID[*bundleID];
        const auto outputDevice =
            audioObjectString(hal, process, AudioProperty::processOutputDeviceName).value_or("");
        if (application.processes.empty() || application.outputDeviceName != outputDevice) {
            application.outputDeviceName = application.processes.empty() ? outputDevice : "";
        }
        application.bundleID = *bundleID;
        application.processes.push_back(process);
        application.playing =
            application.playing || uint32(AudioProperty::processIsRunningOutput) != 0;
        if (application.name.empty()) {
            application.name =
                audioObjectString(hal, process, AudioProperty::objectName).value_or("");
        }
        if (application.iconName.empty()) {
            application.iconName =
                audioObjectString(hal, process, AudioProperty::processIconName).value_or("");
        }
        if (application.binary.empty()) {
            application.binary =
                audioObjectString(hal, process, AudioProperty::processBinary).value_or("");
        }
        const auto reason =
            static_cast<DirectOutputReason>(uint32(AudioProperty::processDirectOutputReason));
        if (application.directOutputReason == DirectOutputReason::none &&
            (reason == DirectOutputReason::callAudio || reason == DirectOutputReason::proAudio)) {
            application.directOutputReason = reason;
        }
    }
    std::vector<AudioApplication> applications;
    for (auto& [bundleID, application] : byBundleID) {
        if (application.name.empty()) {
            application.name = bundleID;
        }
        applications.push_back(std::move(application));
    }
    std::stable_sort(applications.begin(), applications.end(),
                     [](const AudioApplication& a, const AudioApplication& b) {
                         return sortKey(a.name) < sortKey(b.name);
                     });
    return applications;
}

ApplicationMonitor::ApplicationMonitor(AudioHal& hal, Dispatcher& mainQueue)
    : hal_(hal)
    , mainQueue_(mainQueue) {
    AudioObjectPropertyListenerID listener = 0;
    const auto status = hal_.addPropertyListener(
        kAudioObjectSystemObject, {AudioProperty::processObjectList, AudioScope::global, 0},
        lifetime_.guard([this] { scheduleRefresh(); }), listener);
    if (status != kAudioHardwareNoError) {
        log_.error("Application list listener install failed, OSStatus=%{public}d", status);
    } else {
        listener_ = listener;
    }
    applications_.set(readAudioApplications(hal_));
    // A server that cannot tell never has audio pass unlevelled.
    if (hal_.addPropertyListener(kAudioObjectSystemObject,
                                 {AudioProperty::unlevelledAudioReason, AudioScope::global, 0},
                                 lifetime_.guard([this] { readUnlevelledReason(); }),
                                 listener) == kAudioHardwareNoError) {
        unlevelledListener_ = listener;
    }
    readUnlevelledReason();
}

ApplicationMonitor::~ApplicationMonitor() {
    if (listener_) {
        hal_.removePropertyListener(kAudioObjectSystemObject,
                                    {AudioProperty::processObjectList, AudioScope::global, 0},
                                    *listener_);
    }
    if (unlevelledListener_) {
        hal_.removePropertyListener(kAudioObjectSystemObject,
                                    {AudioProperty::unlevelledAudioReason, AudioScope::global, 0},
                                    *unlevelledListener_);
    }
}

void ApplicationMonitor::readUnlevelledReason() {
    const auto reason =
        audioObjectString(hal_, kAudioObjectSystemObject, AudioProperty::unlevelledAudioReason)
            .value_or("");
    if (reason != unlevelledReason_.get() && !reason.empty()) {
        log_.notice("Some audio passes unlevelled: %{public}s", reason);
    }
    unlevelledReason_.set(reason);
}

// Announcements come in bursts (a client connects, then opens its stream):
// the list is read once, after the burst.
void ApplicationMonitor::scheduleRefresh() {
    if (std::exchange(refreshPending_, true)) {
        return;
    }
    mainQueue_.post(lifetime_.guard([this] {
        refreshPending_ = false;
        applications_.set(readAudioApplications(hal_));
    }));
}

} // namespace quellora
