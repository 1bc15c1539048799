#pragma once

#include <optional>
#include <string>

namespace quellora {

// One case of the enumeration `K`, with the text the failure cases carry.
// The mode, the events and the transitions below are all of this shape.
template <typename K>
class KindWithMessage {
public:
    using Kind = K;

    Kind kind() const { return kind_; }
    // The failure text, which the user sees; empty for the other cases.
    const std::string& message() const { return message_; }

    friend bool operator==(const KindWithMessage&, const KindWithMessage&) = default;

protected:
    explicit KindWithMessage(Kind kind, std::string message = {})
        : kind_(kind)
        , message_(std::move(message)) {}

private:
    Kind kind_;
    std::string message_;
};

enum class AppModeKind { off, on, needsPermission, error };

// What the application is doing: processing off or on, waiting for the
// capture permission, or showing an engine failure.
class AppMode : public KindWithMessage<AppModeKind> {
public:
    static AppMode off() { return AppMode(Kind::off); }
    static AppMode on() { return AppMode(Kind::on); }
    static AppMode needsPermission() { return AppMode(Kind::needsPermission); }
    static AppMode error(std::string message) { return AppMode(Kind::error, std::move(message)); }

private:
    using KindWithMessage::KindWithMessage;
};

enum class AppEventKind {
    userEnabled,
    userDisabled,
    permissionIssueDetected,
    permissionRecovered,
    engineStarted,
    engineFailed,
};

// The inputs of the state machine.
class AppEvent : public KindWithMessage<AppEventKind> {
public:
    AppEvent(Kind kind) // NOLINT: events read naturally as their kind
        : KindWithMessage(kind) {}
    static AppEvent engineFailed(std::string message) {
        return AppEvent(Kind::engineFailed, std::move(message));
    }

private:
    using KindWithMessage::KindWithMessage;
};

enum class StateTransitionKind {
    enterError,
    attemptStart,
    enterOn,
    enterOff,
    enterNeedsPermission,
    enterOnFromRecovery,
    none
};

// The outputs of the state machine.
class StateTransition : public KindWithMessage<StateTransitionKind> {
public:
    StateTransition(Kind kind) // NOLINT: as for AppEvent
        : KindWithMessage(kind) {}
    static StateTransition enterError(std::string message) {
        return StateTransition(Kind::enterError, std::move(message));
    }

private:
    using KindWithMessage::KindWithMessage;
};

// Maps the current mode and an event to what should happen; no side effects.
StateTransition resolveTransition(const AppMode& mode, const AppEvent& event);

// Textual forms for the log: the case name, and for cases with a message the
// message in parentheses as a quoted, escaped literal: error("Can't …").
std::string describe(const AppMode& mode);
std::string describe(const StateTransition& transition);
std::string quotedLiteral(const std::string& text);

// What a toggle (the hot key, `quellora toggle`) sends: on in mode off, off
// in every other mode.
AppEvent toggleEvent(const AppMode& mode);

// The mode as the control interface reports it: "off", "on" (or "on
// (waiting for audio output)" while no pipeline runs), "needsPermission" or
// "error: <message>". While on with programmes evened out, the target
// follows ("on, programmes at -18 LUFS"), then, while some audio passes
// unlevelled, why ("on, some audio passes unlevelled: <reason>").
std::string modeText(const AppMode& mode, bool waitingForAudioOutput = false,
                     const std::string& unlevelledReason = {},
                     std::optional<float> programmeTargetLufs = std::nullopt);

} // namespace quellora
