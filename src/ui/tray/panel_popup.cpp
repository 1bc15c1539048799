#include "ui/tray/panel_popup.h"

#include "ui/panel/tinted_label.h"
#include "ui/tray/panel_placement.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>

namespace quellora {
namespace {

constexpr Qt::WindowFlags popupFlags = Qt::Popup | Qt::FramelessWindowHint;
constexpr Qt::WindowFlags windowedFlags = Qt::Window | Qt::CustomizeWindowHint |
                                          Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint |
                                          Qt::WindowCloseButtonHint;
// The panel's own padding, so the note lines up with its content.
constexpr int notePadding = 16;

} // namespace

const char* const noTrayNote = "For a tray icon on GNOME, turn on the AppIndicator extension "
                               "(package gnome-shell-extension-appindicator).";

PanelPopup::PanelPopup(QWidget* content)
    : QWidget(nullptr, popupFlags)
    , trayNote_(new TintedLabel(noTrayNote, style::systemFont(11), &style::secondary, this)) {
    setAttribute(Qt::WA_NoMouseReplay);
    setAttribute(Qt::WA_QuitOnClose, false);
    setAutoFillBackground(true);
    setWindowTitle(QStringLiteral("Quellora"));
    trayNote_->setObjectName("noTrayNote");
    trayNote_->setWordWrap(true);
    trayNote_->setContentsMargins(notePadding, notePadding, notePadding, 0);
    trayNote_->hide();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(trayNote_);
    layout->addWidget(content);
}

void PanelPopup::openAt(const QRect& anchor) {
    anchor_ = anchor;
    fitContent();
    show();
    raise();
    activateWindow();
}

void PanelPopup::fitContent() {
    adjustSize();
    hangFromAnchor();
}

void PanelPopup::hangFromAnchor() {
    if (windowed_ || !anchor_.isValid()) {
        return;
    }
    const auto* screen = QGuiApplication::screenAt(anchor_.center());
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen != nullptr) {
        move(panelPosition(anchor_, size(), screen->availableGeometry()));
    }
}

void PanelPopup::setWindowed(bool windowed) {
    if (windowed == windowed_) {
        return;
    }
    // Back to the normal state first: a window minimised where no window
    // manager acts on it stays mapped, and Qt would not unmap it again.
    setWindowState(Qt::WindowNoState);
    hide();
    windowed_ = windowed;
    setWindowFlags(windowed ? windowedFlags : popupFlags);
    setAttribute(Qt::WA_NoMouseReplay, !windowed);
    trayNote_->setVisible(windowed);
    adjustSize();
}

void PanelPopup::raiseWindow() {
    fitContent();
    showNormal();
    raise();
    activateWindow();
}

bool PanelPopup::isOpen() const {
    return isVisible() && !isMinimized();
}

void PanelPopup::openChanged() {
    const bool open = isOpen();
    if (open == open_) {
        return;
    }
    open_ = open;
    if (open) {
        Q_EMIT willOpen();
    } else {
        Q_EMIT didClose();
    }
}

void PanelPopup::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        openChanged();
    }
}

void PanelPopup::closeEvent(QCloseEvent* event) {
    if (windowed_) {
        // Quellora goes on working: the window stays in the taskbar.
        event->ignore();
        showMinimized();
        return;
    }
    QWidget::closeEvent(event);
}

void PanelPopup::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    openChanged();
}

void PanelPopup::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    openChanged();
}

void PanelPopup::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PanelPopup::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // A banner or a bar came or went: the panel keeps hanging from its
    // anchor, growing away from the icon, never off the screen.
    if (isVisible()) {
        hangFromAnchor();
    }
}

} // namespace quellora
