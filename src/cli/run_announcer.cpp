#include "cli/run_announcer.h"

namespace quellora {
RunAnnouncer::RunAnnouncer(const AppState& appModel, std::ostream& stream, bool connected)
    : model(appModel)
    , out(stream)
    , serverConnected(connected) {
    // Without a server the engine only waits, whatever the mode says.
    say(serverConnected ? describeMode(model.mode().get()) : noServerLine);
    modeSubscription =
        model.mode().subscribe([this](const AppMode& mode) { say(describeMode(mode)); });
    lowVolumeSubscription = model.lowVolumeWarning().subscribe([this](bool shown) {
        if (shown) {
            say(lowVolumeLine);
        }
    });
}

void RunAnnouncer::setServerConnected(bool connected) {
    if (connected == serverConnected) {
        return;
    }
    serverConnected = connected;
    if (connected) {
        say(serverConnectedLine);
        say(describeMode(model.mode().get()));
    } else {
        say(noServerLine);
    }
}

std::string RunAnnouncer::describeMode(const AppMode& mode) {
    switch (mode.kind()) {
    case AppMode::Kind::on:
        return "Quellora is on.";
    case AppMode::Kind::off:
        return "Quellora is off.";
    case AppMode::Kind::needsPermission:
        return "Quellora needs permission to capture your audio.";
    case AppMode::Kind::error:
        return "Quellora can't reach your audio: " + mode.message();
    }
    return "Quellora is off.";
}

void RunAnnouncer::say(const std::string& line) {
    out << line << std::endl; // flushed: the terminal, or a script, reads as it goes
}

} // namespace quellora
