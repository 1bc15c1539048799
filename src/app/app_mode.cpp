#include "app/app_mode.h"

#include <fmt/format.h>

#include <array>
#include <string_view>

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

namespace {

// The case names, in the order of their enumeration.
constexpr std::array<std::string_view, 4> modeNames{"off", "on", "needsPermission", "error"};
constexpr std::array<std::string_view, 7> transitionNames{
    "enterError",           "attemptStart",        "enterOn", "enterOff",
    "enterNeedsPermission", "enterOnFromRecovery", "none"};
static_assert(modeNames.size() == static_cast<std::size_t>(AppModeKind::error) + 1);
static_assert(transitionNames.size() == static_cast<std::size_t>(StateTransitionKind::none) + 1);

// The case name, and for the case that carries a message the message as a
// literal in parentheses.
template <typename K, std::size_t N>
std::string describeCase(const std::array<std::string_view, N>& names,
                         const KindWithMessage<K>& value, K caseWithMessage) {
    std::string text(names.at(static_cast<std::size_t>(value.kind())));
    if (value.kind() == caseWithMessage) {
        text += "(" + quotedLiteral(value.message()) + ")";
    }
    return text;
}

} // namespace

std::string describe(const AppMode& mode) {
    return describeCase(modeNames, mode, AppModeKind::error);
}

std::string describe(const StateTransition& transition) {
    return describeCase(transitionNames, transition, StateTransitionKind::enterError);
}

AppEvent toggleEvent(const AppMode& mode) {
    return mode.kind() == AppMode::Kind::off ? AppEvent::Kind::userEnabled
                                             : AppEvent::Kind::userDisabled;
}

std::string modeText(const AppMode& mode, bool waitingForAudioOutput,
                     const std::string& unlevelledReason,
                     std::optional<float> programmeTargetLufs) {
    switch (mode.kind()) {
    case AppMode::Kind::on: {
        std::string text = waitingForAudioOutput ? "on (waiting for audio output)" : "on";
        if (programmeTargetLufs) {
            text += fmt::format(", programmes at {:g} LUFS", *programmeTargetLufs);
        }
        if (!waitingForAudioOutput && !unlevelledReason.empty()) {
            text += ", some audio passes unlevelled: " + unlevelledReason;
        }
        return text;
    }
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
