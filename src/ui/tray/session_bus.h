#pragma once

#include <QDBusConnection>

namespace quellora {

// The session bus connection every part of the tray application uses. Qt
// registers the bus's own types on its bus thread, after the bus's global
// state exists; at exit that type registry would then go first while the bus
// thread may still decode a message with them, and a command exiting right
// after its call printed warnings. Registering one type before the first use
// of the bus creates the registry first, so it is torn down last.
QDBusConnection sessionBus();

} // namespace quellora
