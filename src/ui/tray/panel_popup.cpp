#include "ui/tray/panel_popup.h"

#include "ui/tray/panel_placement.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>

namespace quellora {

PanelPopup::PanelPopup(QWidget* content)
    : QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint) {
    setAttribute(Qt::WA_NoMouseReplay);
    setAttribute(Qt::WA_QuitOnClose, false);
    setAutoFillBackground(true);
    setWindowTitle(QStringLiteral("Quellora"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
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
    const auto* screen = QGuiApplication::screenAt(anchor_.center());
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen != nullptr && anchor_.isValid()) {
        move(panelPosition(anchor_, size(), screen->availableGeometry()));
    }
}

void PanelPopup::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Q_EMIT willOpen();
}

void PanelPopup::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    Q_EMIT didClose();
}

void PanelPopup::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace quellora
