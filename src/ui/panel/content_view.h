#pragma once

#include <QWidget>
#include <memory>

namespace quellora {

class AppState;
class Updater;

// The panel that drops down from the tray icon: switch and status, banners,
// curve and waveform, presets, programme target, sliders and footer. Holds
// no state of its own: it shows the model and the updater and calls them.
// 300 wide; its size hint is the height its content needs at that width.
class ContentView : public QWidget {
    Q_OBJECT
public:
    ContentView(AppState& model, Updater& updater, QWidget* parent = nullptr);
    ~ContentView() override;

    QSize sizeHint() const override;

signals:
    // The quit button; the tray controller ends the application.
    void quitRequested();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void render();

    struct Parts;
    std::unique_ptr<Parts> parts_;
};

} // namespace quellora
