#pragma once

#include <string>

namespace quellora {

// What the application is doing: processing off or on, waiting for the
// capture permission, or showing an engine failure (the message is the text
// the user sees).
class AppMode {
public:
    enum class Kind { off, on, needsPermission, error };

    static AppMode off() { return AppMode(Kind::off); }
    static AppMode on() { return AppMode(Kind::on); }
    static AppMode needsPermission() { return AppMode(Kind::needsPermission); }
    static AppMode error(std::string message) { return AppMode(Kind::error, std::move(message)); }

    Kind kind() const { return kind_; }
    // The failure text for `error`; empty otherwise.
    const std::string& message() const { return message_; }

    friend bool operator==(const AppMode&, const AppMode&) = default;

private:
    explicit AppMode(Kind kind, std::string message = {})
        : kind_(kind)
        , message_(std::move(message)) {}

    Kind kind_;
    std::string message_;
};

// The inputs of the state machine.
class AppEvent {
public:
    enum class Kind {
        userEnabled,
        userDisabled,
        permissionIssueDetected,
        permissionRecovered,
        engineStarted,
        engineFailed,
    };

    AppEvent(Kind kind)
        : kind_(kind) {} // NOLINT: events read naturally as their kind
    static AppEvent engineFailed(std::string message) {
        AppEvent event(Kind::engineFailed);
        event.message_ = std::move(message);
        return event;
    }

    Kind kind() const { return kind_; }
    const std::string& message() const { return message_; }

    friend bool operator==(const AppEvent&, const AppEvent&) = default;

private:
    Kind kind_;
    std::string message_;
};

// The outputs of the state machine.
class StateTransition {
public:
    enum class Kind {
        enterError,
        attemptStart,
        enterOn,
        enterOff,
        enterNeedsPermission,
        enterOnFromRecovery,
        none
    };

    StateTransition(Kind kind)
        : kind_(kind) {} // NOLINT: as for AppEvent
    static StateTransition enterError(std::string message) {
        StateTransition transition(Kind::enterError);
        transition.message_ = std::move(message);
        return transition;
    }

    Kind kind() const { return kind_; }
    const std::string& message() const { return message_; }

    friend bool operator==(const StateTransition&, const StateTransition&) = default;

private:
    Kind kind_;
    std::string message_;
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
// "error: <message>".
std::string modeText(const AppMode& mode, bool waitingForAudioOutput = false);

} // namespace quellora
