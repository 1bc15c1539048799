#pragma once

#include <QWidget>

namespace quellora {

class AppState;

// First-run setup: the permission screen while the model needs permission,
// the success screen in every other mode. 340 wide.
class SetupView : public QWidget {
    Q_OBJECT
public:
    explicit SetupView(AppState& model, QWidget* parent = nullptr);
    ~SetupView() override;

signals:
    // "Done" (or Return) on the success screen.
    void setupDone();
    // The quit button of the permission screen.
    void quitRequested();

private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

} // namespace quellora
