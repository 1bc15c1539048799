#pragma once

#include "ui/tray/status_item.h"

#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

class QDBusServiceWatcher;

namespace quellora {

// The icon in an XEmbed tray or, where a StatusNotifierItem host runs
// (KDE, GNOME's AppIndicator extension, Wayland desktops), as a status
// notifier item: Qt picks one when it creates the icon, once. Follows the
// theme's palette.
//
// Whether a tray is there is watched: the StatusNotifierWatcher coming and
// going on the session bus and its hosts registering, and on X11 the XEmbed
// tray, checked every two seconds (one round trip to the X server; Qt tells
// nobody when a tray appears). Qt docks an icon only when it is shown, so
// the icon is shown again when a tray appears.
class SystemTrayStatusItem final : public QObject, public StatusItem {
    Q_OBJECT
public:
    SystemTrayStatusItem();
    ~SystemTrayStatusItem() override;

    void show() override { icon_.show(); }
    void setSymbol(Symbol symbol) override;
    IconPlacement placement() const override;
    std::optional<QPoint> lastClickPosition() const override { return lastClick_; }
    void setClickHandler(std::function<void()> handler) override { clicked_ = std::move(handler); }
    bool isTrayAvailable() const override { return trayAvailable_; }
    void setTrayAvailabilityHandler(std::function<void(bool available)> handler) override {
        availabilityChanged_ = std::move(handler);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    // Slot for the bus's string-based signal connections.
    void recheckTray();

private:
    void clicked(QSystemTrayIcon::ActivationReason reason);
    bool checkTray() const;

    QSystemTrayIcon icon_;
    Symbol symbol_ = Symbol::waveform;
    // What Qt chose when it made the icon: a status notifier item, or XEmbed.
    bool usesStatusNotifier_;
    bool hostReportsGeometry_;
    bool trayAvailable_;
    QDBusServiceWatcher* watcherWatch_;
    QTimer xembedCheck_;
    std::optional<QPoint> lastClick_;
    std::function<void()> clicked_;
    std::function<void(bool)> availabilityChanged_;
};

} // namespace quellora
