#pragma once

#include "base/dispatcher.h"
#include "base/lifetime.h"
#include "base/log.h"
#include "base/observable.h"
#include "engine/hal/audio_hal.h"

#include <optional>
#include <string>
#include <vector>

namespace quellora {

// An application with an output stream, as the server reports its processes.
struct AudioApplication {
    std::string bundleID; // what identifies it across runs
    std::string name;     // what people call it; the bundle ID when it has no name
    std::string iconName; // empty: none
    // The program its first process that says runs; empty: none says. Only
    // to carry over choices stored by it before names identified applications.
    std::string binary;
    // Why its output reaches the device untouched unless the user says
    // otherwise; the first reason any of its processes gives.
    DirectOutputReason directOutputReason = DirectOutputReason::none;
    // The device it plays on instead of the default output, where every
    // process of it agrees; empty: it follows the default output.
    std::string outputDeviceName;
    bool playing = false; // some process of it plays now
    std::vector<AudioObjectID> processes;

    friend bool operator==(const AudioApplication&, const AudioApplication&) = default;
};

// Which applications the user sent around the tap (direct) and which through
// it although their output is direct by default (levelled), by bundle ID.
struct ApplicationRouting {
    std::vector<std::string> direct;
    std::vector<std::string> levelled;

    friend bool operator==(const ApplicationRouting&, const ApplicationRouting&) = default;
};

// The applications with an output stream, grouped by bundle ID (an
// application may run several processes), sorted by name. Our own process
// and processes that nothing identifies are left out.
std::vector<AudioApplication> readAudioApplications(AudioHal& hal);

// Keeps the list of applications current from the server's process
// announcements, read once per burst on the main queue, and why some of
// their audio passes the tap unlevelled. Main thread only.
class ApplicationMonitor {
public:
    ApplicationMonitor(AudioHal& hal, Dispatcher& mainQueue);
    ~ApplicationMonitor();
    ApplicationMonitor(const ApplicationMonitor&) = delete;
    ApplicationMonitor& operator=(const ApplicationMonitor&) = delete;

    const Observable<std::vector<AudioApplication>>& applications() const { return applications_; }
    // Empty while all their audio that the tap would take enters it.
    const Observable<std::string>& unlevelledReason() const { return unlevelledReason_; }

private:
    void scheduleRefresh();
    void readUnlevelledReason();

    AudioHal& hal_;
    Dispatcher& mainQueue_;
    Logger log_{"AudioEngine"};
    Observable<std::vector<AudioApplication>> applications_;
    Observable<std::string> unlevelledReason_;
    std::optional<AudioObjectPropertyListenerID> listener_;
    std::optional<AudioObjectPropertyListenerID> unlevelledListener_;
    bool refreshPending_ = false;
    Lifetime lifetime_;
};

} // namespace quellora
