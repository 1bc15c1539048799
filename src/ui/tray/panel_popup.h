#pragma once

#include <QRect>
#include <QWidget>

class QLabel;

namespace quellora {

// The window the panel shows in. Normally a frameless popup that drops down
// from the tray icon, standing in for the menu that trays cannot host: it
// closes when the user clicks elsewhere or presses Escape, and the click that
// closes it goes no further, so a click on the icon closes the panel instead
// of opening it again. It stays hanging from its anchor, inside the screen,
// whenever its height changes.
//
// Where the desktop has no tray it is an ordinary window instead, with a
// taskbar entry and a note on how to get a tray icon, so Quellora never runs
// unseen: closing it, or Escape, minimises it.
class PanelPopup final : public QWidget {
    Q_OBJECT
public:
    // Takes ownership of `content`.
    explicit PanelPopup(QWidget* content);

    // Shows the panel hanging from `anchor` (global), kept on its screen.
    void openAt(const QRect& anchor);
    // Fits the window to its content's size, still hanging from its anchor.
    void fitContent();

    // An ordinary window (true) or the popup. Hides the panel.
    void setWindowed(bool windowed);
    bool isWindowed() const { return windowed_; }
    // Shows the window, restored and in front.
    void raiseWindow();
    // Whether the panel can be seen: shown, and not minimised.
    bool isOpen() const;

signals:
    void willOpen();
    void didClose();

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void hangFromAnchor();
    void openChanged();

    QLabel* trayNote_;
    QRect anchor_;
    bool windowed_ = false;
    bool open_ = false;
};

// The note the windowed panel shows, on how to get a tray icon.
extern const char* const noTrayNote;

} // namespace quellora
