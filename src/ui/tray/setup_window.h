#pragma once

#include <QWidget>

namespace quellora {

// The window that holds the setup screens: titled "Quellora", closable,
// neither minimisable nor resizable, as large as its content. Made once and
// reused; closing only hides it.
class SetupWindow final : public QWidget {
    Q_OBJECT
public:
    // Takes ownership of `content`.
    explicit SetupWindow(QWidget* content);

    // Floating keeps the window above other applications' windows.
    void setFloating(bool floating);
    bool isFloating() const { return windowFlags().testFlag(Qt::WindowStaysOnTopHint); }
    void centreOnScreen();

signals:
    // The window is closing (its close button, or close()).
    void closing();

protected:
    void closeEvent(QCloseEvent* event) override;
};

} // namespace quellora
