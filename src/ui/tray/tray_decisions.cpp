#include "ui/tray/tray_decisions.h"

namespace quellora {
namespace {

bool needsPermission(const AppMode& mode) {
    return mode.kind() == AppMode::Kind::needsPermission;
}

// Setup comes first while it is needed or still on screen.
SetupAction setupActionOr(const AppMode& mode, bool setupWindowVisible, SetupAction otherwise) {
    if (needsPermission(mode)) {
        return SetupAction::showSetup;
    }
    return setupWindowVisible ? SetupAction::surfaceSetup : otherwise;
}

} // namespace

std::string_view policyName(bool ordinaryWindowShown) {
    return ordinaryWindowShown ? "regular" : "accessory";
}

Symbol statusSymbol(const AppMode& mode, bool lowVolumeWarning) {
    switch (mode.kind()) {
    case AppMode::Kind::on:
        return lowVolumeWarning ? Symbol::waveformBadgeMinus : Symbol::waveform;
    case AppMode::Kind::needsPermission:
        return Symbol::waveformBadgeExclamationmark;
    case AppMode::Kind::error:
        return Symbol::waveformBadgeXmark;
    case AppMode::Kind::off:
        break;
    }
    return Symbol::waveform;
}

SetupPresentation setupPresentation(const AppMode& mode, bool setupWindowVisible) {
    if (needsPermission(mode)) {
        return SetupPresentation::detachAndShowSetup;
    }
    return setupWindowVisible ? SetupPresentation::surfaceSuccess : SetupPresentation::attachPanel;
}

SetupAction detachedClickAction(const AppMode& mode, bool setupWindowVisible) {
    return setupActionOr(mode, setupWindowVisible, SetupAction::nothing);
}

SetupAction reopenAction(const AppMode& mode, bool setupWindowVisible) {
    return setupActionOr(mode, setupWindowVisible, SetupAction::openPanel);
}

bool isQuitShortcut(int key, Qt::KeyboardModifiers modifiers) {
    return key == Qt::Key_Q && (modifiers & ~Qt::KeypadModifier) == Qt::ControlModifier;
}

} // namespace quellora
