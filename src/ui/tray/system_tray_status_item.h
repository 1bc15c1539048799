#pragma once

#include "ui/tray/status_item.h"

#include <QObject>
#include <QSystemTrayIcon>

namespace quellora {

// The icon in an XEmbed tray or, where a StatusNotifierItem host runs
// (KDE, GNOME's AppIndicator extension, Wayland desktops), as a status
// notifier item: Qt picks one when it creates the icon. Follows the theme's
// palette.
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

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void clicked(QSystemTrayIcon::ActivationReason reason);

    QSystemTrayIcon icon_;
    Symbol symbol_ = Symbol::waveform;
    bool hostReportsGeometry_;
    std::optional<QPoint> lastClick_;
    std::function<void()> clicked_;
};

} // namespace quellora
