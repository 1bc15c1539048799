#include "cli/run_announcer.h"

namespace quellora {
RunAnnouncer::RunAnnouncer(const AppState& appModel, std::ostream& stream, bool connected)
    : model(appModel)
    , out(stream)
    , serverConnected(connected) {
    // Without a server the engine only waits, whatever the mode says.
    if (serverConnected) {
        sayMode();
    } else {
        say(noServerLine);
    }
    modeSubscription = model.mode().subscribe([this](const AppMode&) { sayMode(); });
    waitingSubscription = model.waitingForAudioOutput().subscribe([this](bool) { sayMode(); });
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
        lastModeLine.clear();
        sayMode();
    } else {
        say(noServerLine);
    }
}

std::string RunAnnouncer::describeMode(const AppMode& mode, bool waitingForAudioOutput) {
    switch (mode.kind()) {
    case AppMode::Kind::on:
        return waitingForAudioOutput ? "Quellora is on (waiting for audio output)."
                                     : "Quellora is on.";
    case AppMode::Kind::off:
        return "Quellora is off.";
    case AppMode::Kind::needsPermission:
        return "Quellora needs permission to capture your audio.";
    case AppMode::Kind::error:
        return "Quellora can't reach your audio: " + mode.message();
    }
    return "Quellora is off.";
}

void RunAnnouncer::sayMode() {
    if (!serverConnected) {
        return; // the engine only waits; the connection's line says so
    }
    auto line = describeMode(model.mode().get(), model.waitingForAudioOutput().get());
    if (line != lastModeLine) {
        say(line);
        lastModeLine = std::move(line);
    }
}

void RunAnnouncer::say(const std::string& line) {
    out << line << std::endl; // flushed: the terminal, or a script, reads as it goes
}

} // namespace quellora
