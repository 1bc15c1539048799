#include "ui/tray/setup_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>
#include <QWindow>

namespace quellora {

SetupWindow::SetupWindow(QWidget* content)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint) {
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QStringLiteral("Quellora"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // Not resizable: the window follows its content's size.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(content);
}

void SetupWindow::setFloating(bool floating) {
    auto flags = windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, floating);
    if (isVisible() && windowHandle() != nullptr) {
        // QWidget::setWindowFlags would hide a visible window; the native
        // window changes its stacking in place.
        overrideWindowFlags(flags);
        windowHandle()->setFlags(flags);
    } else {
        setWindowFlags(flags);
    }
}

void SetupWindow::centreOnScreen() {
    adjustSize();
    if (const auto* screen = QGuiApplication::primaryScreen()) {
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                        screen->availableGeometry()));
    }
}

void SetupWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    Q_EMIT closing();
}

} // namespace quellora
