#pragma once

// The tray controller's decisions, as functions of the model's state: what
// the icon shows, what a click or reopening does, and when the application
// needs its taskbar entry.

#include "app/app_mode.h"
#include "ui/panel/symbol_glyphs.h"

#include <Qt>
#include <set>
#include <string>
#include <string_view>

namespace quellora {

// "regular": the application has a taskbar entry; "accessory": it lives in
// the tray only.
enum class ApplicationPolicy { accessory, regular };

// Regular while something on screen needs it ("setup", "update").
ApplicationPolicy desiredPolicy(const std::set<std::string>& regularPolicyReasons);
// "accessory" or "regular", for the log.
std::string_view policyName(ApplicationPolicy policy);

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
