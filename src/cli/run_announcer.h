#pragma once

#include "app/app_state.h"
#include "base/observable.h"

#include <ostream>
#include <string>

namespace quellora {

// Tells the person at the terminal what the running application does, one
// plain line per change, each flushed at once: whether the audio server is
// reachable, the model's mode (with the engine's message when it fails, or
// that it waits for an output to play on) and the low-volume warning. Main
// thread only.
class RunAnnouncer {
public:
    // Announces the current state at once.
    RunAnnouncer(const AppState& model, std::ostream& out, bool serverConnected);

    // Called when the connection to the audio server comes or goes.
    void setServerConnected(bool connected);

    static std::string describeMode(const AppMode& mode, bool waitingForAudioOutput = false);
    static constexpr const char* noServerLine =
        "No audio server is running; Quellora will start as soon as PipeWire is available.";
    static constexpr const char* serverConnectedLine = "Connected to PipeWire.";
    static constexpr const char* lowVolumeLine =
        "What is playing is very quiet; turn it up in the application that plays it, "
        "so that Quellora has something to work with.";

private:
    void say(const std::string& line);
    // Says the mode's line while connected, unless it was the last one said.
    void sayMode();

    const AppState& model;
    std::ostream& out;
    bool serverConnected;
    std::string lastModeLine;
    Subscription modeSubscription;
    Subscription waitingSubscription;
    Subscription lowVolumeSubscription;
};

} // namespace quellora
