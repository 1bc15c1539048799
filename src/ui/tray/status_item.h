#pragma once

#include "ui/panel/symbol_glyphs.h"
#include "ui/tray/panel_placement.h"

#include <QPoint>
#include <functional>
#include <optional>

namespace quellora {

// The application's icon in the desktop's tray. Main thread only.
class StatusItem {
public:
    virtual ~StatusItem() = default;

    virtual void show() = 0;
    virtual void setSymbol(Symbol symbol) = 0;
    virtual IconPlacement placement() const = 0;
    // Where the pointer was at the last click, where the platform tells.
    virtual std::optional<QPoint> lastClickPosition() const = 0;
    // Called on the main thread for every click on the icon.
    virtual void setClickHandler(std::function<void()> handler) = 0;

    // Whether the desktop has a tray that shows the icon now.
    virtual bool isTrayAvailable() const = 0;
    // Called on the main thread when a tray appears or goes; the icon docks
    // in one that appears by itself.
    virtual void setTrayAvailabilityHandler(std::function<void(bool available)> handler) = 0;
};

} // namespace quellora
