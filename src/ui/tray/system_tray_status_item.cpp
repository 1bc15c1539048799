#include "ui/tray/system_tray_status_item.h"

#include "ui/tray/session_bus.h"
#include "ui/tray/tray_icon.h"

#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QEvent>
#include <QGuiApplication>

namespace quellora {
namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

// The test Qt itself makes to choose a status notifier item over XEmbed.
bool statusNotifierHostRegistered() {
    auto bus = sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(watcherService)) {
        return false;
    }
    QDBusInterface watcher(watcherService, QStringLiteral("/StatusNotifierWatcher"), watcherService,
                           bus);
    return watcher.property("IsStatusNotifierHostRegistered").toBool();
}

bool isX11() {
    return QGuiApplication::platformName() == QStringLiteral("xcb");
}

} // namespace

SystemTrayStatusItem::SystemTrayStatusItem()
    : hostReportsGeometry_(isX11() && !statusNotifierHostRegistered()) {
    icon_.setToolTip(QStringLiteral("Quellora"));
    icon_.setIcon(trayIcon(symbol_, trayIconColours(QGuiApplication::palette())));
    connect(&icon_, &QSystemTrayIcon::activated, this, &SystemTrayStatusItem::clicked);
    QCoreApplication::instance()->installEventFilter(this);
}

SystemTrayStatusItem::~SystemTrayStatusItem() {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeEventFilter(this);
    }
}

void SystemTrayStatusItem::setSymbol(Symbol symbol) {
    symbol_ = symbol;
    icon_.setIcon(trayIcon(symbol_, trayIconColours(QGuiApplication::palette())));
}

IconPlacement SystemTrayStatusItem::placement() const {
    return {icon_.isVisible(), icon_.geometry(), hostReportsGeometry_};
}

bool SystemTrayStatusItem::eventFilter(QObject* watched, QEvent* event) {
    if (watched == QCoreApplication::instance() &&
        event->type() == QEvent::ApplicationPaletteChange) {
        setSymbol(symbol_);
    }
    return false;
}

void SystemTrayStatusItem::clicked(QSystemTrayIcon::ActivationReason reason) {
    if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::Context) {
        return;
    }
    // Only X11 tells where the pointer is outside our own windows.
    lastClick_ = isX11() ? std::optional<QPoint>(QCursor::pos()) : std::nullopt;
    if (clicked_) {
        clicked_();
    }
}

} // namespace quellora
