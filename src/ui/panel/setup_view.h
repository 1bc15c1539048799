#pragma once

#include <QWidget>
#include <memory>

namespace quellora {

class AppState;

// First-run setup: the permission screen while the model needs permission,
// the success screen in every other mode. 340 wide; its size hint is the
// height its content needs at that width.
class SetupView : public QWidget {
    Q_OBJECT
public:
    explicit SetupView(AppState& model, QWidget* parent = nullptr);
    ~SetupView() override;

    QSize sizeHint() const override;

    // Whether Quellora shows in the tray, for where the success screen says
    // to find it.
    void setTrayShown(bool trayShown);

signals:
    // "Done" (or Return) on the success screen.
    void setupDone();
    // The quit button of the permission screen.
    void quitRequested();

private:
    void render();

    struct Parts;
    std::unique_ptr<Parts> parts_;
};

} // namespace quellora
