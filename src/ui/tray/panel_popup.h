#pragma once

#include <QRect>
#include <QWidget>

namespace quellora {

// The frameless window the panel drops down in from the tray icon. Trays
// cannot host widgets in their menus, so this stands in for the menu: it
// closes when the user clicks elsewhere or presses Escape, and the click
// that closes it goes no further, so a click on the icon closes the panel
// instead of opening it again.
class PanelPopup final : public QWidget {
    Q_OBJECT
public:
    // Takes ownership of `content`.
    explicit PanelPopup(QWidget* content);

    // Shows the panel hanging from `anchor` (global), kept on its screen.
    void openAt(const QRect& anchor);
    // Fits the window to its content's size, still hanging from its anchor.
    void fitContent();

signals:
    void willOpen();
    void didClose();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QRect anchor_;
};

} // namespace quellora
