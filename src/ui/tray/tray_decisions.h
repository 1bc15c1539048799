#pragma once

// The tray controller's decisions, as functions of the model's state: what
// the icon shows, what a click or reopening does, and when the application
// needs its taskbar entry.

#include "app/app_mode.h"
#include "ui/panel/symbol_glyphs.h"

#include <Qt>
#include <string>
#include <string_view>

namespace quellora {

// For the log: "regular" while an ordinary window with a taskbar entry of
// its own (the setup window, the panel without a tray) is up, "accessory" while Quellora lives in
// the tray only. On Linux the windows carry their taskbar entries themselves, so nothing is
// switched.
std::string_view policyName(bool ordinaryWindowShown);

// The tray icon: the waveform, badged with a minus for the low-volume
// warning, an exclamation mark while the permission is missing and a cross
// for an engine failure.
Symbol statusSymbol(const AppMode& mode, bool lowVolumeWarning);

// How the tray and the setup window follow a change of mode.
enum class SetupPresentation {
    // needsPermission: the panel is detached, so that a click reaches setup.
    detachAndShowSetup,
    // The permission came while setup is up: surface it again, where it now
    // shows its success screen; the panel stays detached until setup closes.
    surfaceSuccess,
    // The normal state: a click opens the panel.
    attachPanel,
};
SetupPresentation setupPresentation(const AppMode& mode, bool setupWindowVisible);

// What a click on the icon does while no panel is attached, and what
// reopening the running application does.
enum class SetupAction { showSetup, surfaceSetup, openPanel, nothing };
SetupAction detachedClickAction(const AppMode& mode, bool setupWindowVisible);
SetupAction reopenAction(const AppMode& mode, bool setupWindowVisible);

// Control-Q, the desktop's quit shortcut; with Shift or another modifier
// it is some other command.
bool isQuitShortcut(int key, Qt::KeyboardModifiers modifiers);

} // namespace quellora
