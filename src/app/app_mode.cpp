#include "app/app_mode.h"

#include <fmt/format.h>

namespace quellora {

StateTransition resolveTransition(const AppMode& mode, const AppEvent& event) {
    using Mode = AppMode::Kind;
    using Event = AppEvent::Kind;
    using Transition = StateTransition::Kind;
    switch (mode.kind()) {
    case Mode::off:
        return event.kind() == Event::userEnabled ? Transition::attemptStart : Transition::none;
    case Mode::on:
        switch (event.kind()) {
        case Event::userDisabled:
            return Transition::enterOff;
        case Event::permissionIssueDetected:
            return Transition::enterNeedsPermission;
        case Event::engineFailed:
            return StateTransition::enterError(event.message());
        default:
            return Transition::none;
        }
    case Mode::needsPermission:
        switch (event.kind()) {
        case Event::userDisabled:
            return Transition::enterOff;
        case Event::permissionRecovered:
            return Transition::enterOnFromRecovery;
        case Event::engineFailed:
            return StateTransition::enterError(event.message());
        default:
            return Transition::none;
        }
    case Mode::error:
        // A further failure keeps the first message; switching on does nothing.
        switch (event.kind()) {
        case Event::userDisabled:
            return Transition::enterOff;
        case Event::engineStarted:
            return Transition::enterOn;
        default:
            return Transition::none;
        }
    }
    return Transition::none;
}

std::string quotedLiteral(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        switch (c) {
        case '"':
            quoted += "\\\"";
            break;
        case '\\':
            quoted += "\\\\";
            break;
        case '\n':
            quoted += "\\n";
            break;
        case '\r':
            quoted += "\\r";
            break;
        case '\t':
            quoted += "\\t";
            break;
        case '\0':
            quoted += "\\0";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
                quoted += fmt::format("\\u{{{:x}}}", static_cast<unsigned char>(c));
            } else {
                quoted += c;
            }
        }
    }
    return quoted + "\"";
}

std::string describe(const AppMode& mode) {
    switch (mode.kind()) {
    case AppMode::Kind::off:
        return "off";
    case AppMode::Kind::on:
        return "on";
    case AppMode::Kind::needsPermission:
        return "needsPermission";
    case AppMode::Kind::error:
        return "error(" + quotedLiteral(mode.message()) + ")";
    }
    return "off";
}

std::string describe(const StateTransition& transition) {
    switch (transition.kind()) {
    case StateTransition::Kind::enterError:
        return "enterError(" + quotedLiteral(transition.message()) + ")";
    case StateTransition::Kind::attemptStart:
        return "attemptStart";
    case StateTransition::Kind::enterOn:
        return "enterOn";
    case StateTransition::Kind::enterOff:
        return "enterOff";
    case StateTransition::Kind::enterNeedsPermission:
        return "enterNeedsPermission";
    case StateTransition::Kind::enterOnFromRecovery:
        return "enterOnFromRecovery";
    case StateTransition::Kind::none:
        return "none";
    }
    return "none";
}

AppEvent toggleEvent(const AppMode& mode) {
    return mode.kind() == AppMode::Kind::off ? AppEvent::Kind::userEnabled
                                             : AppEvent::Kind::userDisabled;
}

std::string modeText(const AppMode& mode, bool waitingForAudioOutput) {
    switch (mode.kind()) {
    case AppMode::Kind::on:
        return waitingForAudioOutput ? "on (waiting for audio output)" : "on";
    case AppMode::Kind::needsPermission:
        return "needsPermission";
    case AppMode::Kind::error:
        return "error: " + mode.message();
    case AppMode::Kind::off:
        break;
    }
    return "off";
}

} // namespace quellora
