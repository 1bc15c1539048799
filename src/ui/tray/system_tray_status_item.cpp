#include "ui/tray/system_tray_status_item.h"

#include "ui/tray/panel_placement.h"
#include "ui/tray/session_bus.h"
#include "ui/tray/tray_icon.h"

#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusServiceWatcher>
#include <QEvent>
#include <QGuiApplication>

namespace quellora {
namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
constexpr int xembedCheckIntervalMs = 2000;

// The test Qt itself makes to choose a status notifier item over XEmbed.
bool statusNotifierHostRegistered() {
    auto bus = sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(watcherService)) {
        return false;
    }
    QDBusInterface watcher(watcherService, watcherPath, watcherService, bus);
    return watcher.property("IsStatusNotifierHostRegistered").toBool();
}

bool isX11() {
    return QGuiApplication::platformName() == QStringLiteral("xcb");
}

} // namespace

SystemTrayStatusItem::SystemTrayStatusItem()
    : usesStatusNotifier_(statusNotifierHostRegistered())
    , hostReportsGeometry_(isX11() && !usesStatusNotifier_)
    , trayAvailable_(checkTray())
    , watcherWatch_(new QDBusServiceWatcher(watcherService, sessionBus(),
                                            QDBusServiceWatcher::WatchForOwnerChange, this)) {
    icon_.setToolTip(QStringLiteral("Quellora"));
    icon_.setIcon(trayIcon(symbol_, trayIconColours(QGuiApplication::palette())));
    connect(&icon_, &QSystemTrayIcon::activated, this, &SystemTrayStatusItem::clicked);
    QCoreApplication::instance()->installEventFilter(this);

    connect(watcherWatch_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            &SystemTrayStatusItem::recheckTray);
    auto bus = sessionBus();
    for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"}) {
        bus.connect(watcherService, watcherPath, watcherService, QString::fromLatin1(signal), this,
                    SLOT(recheckTray()));
    }
    if (!usesStatusNotifier_ && isX11()) {
        xembedCheck_.setInterval(xembedCheckIntervalMs);
        connect(&xembedCheck_, &QTimer::timeout, this, &SystemTrayStatusItem::recheckTray);
        xembedCheck_.start();
    }
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

// Only a tray of the kind Qt chose can show the icon: a status notifier host
// that appears after start-up cannot, until Quellora starts again.
bool SystemTrayStatusItem::checkTray() const {
    return usesStatusNotifier_ ? statusNotifierHostRegistered()
                               : QSystemTrayIcon::isSystemTrayAvailable();
}

void SystemTrayStatusItem::recheckTray() {
    const bool available = checkTray();
    if (available == trayAvailable_) {
        return;
    }
    trayAvailable_ = available;
    // Qt docks the icon itself into a tray that came later, most of the
    // time; one it left out is shown again.
    if (available && icon_.isVisible() && !isDocked(icon_.geometry())) {
        icon_.hide();
        icon_.show();
    }
    if (availabilityChanged_) {
        availabilityChanged_(available);
    }
}

void SystemTrayStatusItem::clicked(QSystemTrayIcon::ActivationReason reason) {
    if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::Context) {
        return;
    }
    // A click on the icon proves a tray: follow it now rather than at the
    // next check, so that the click opens the panel from the icon.
    recheckTray();
    // Only X11 tells where the pointer is outside our own windows.
    lastClick_ = isX11() ? std::optional<QPoint>(QCursor::pos()) : std::nullopt;
    if (clicked_) {
        clicked_();
    }
}

} // namespace quellora
