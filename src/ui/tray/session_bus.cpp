#include "ui/tray/session_bus.h"

#include <QDBusVariant>
#include <QMetaType>

namespace quellora {

QDBusConnection sessionBus() {
    (void)QMetaType::fromType<QDBusVariant>().id();
    return QDBusConnection::sessionBus();
}

} // namespace quellora
