#pragma once

#include "base/observable.h"

#include <QUrl>
#include <QWidget>
#include <vector>

namespace quellora {

class AppState;
class BannerButton;
class MenuSwitch;
class Updater;

// Where the support button leads.
inline const QUrl supportPageUrl{"https://quellora.org/support"};

// The bottom of the panel: launch at login, support and quit; under them
// the login-item approval hint and the update banner when they apply.
class PanelFooter : public QWidget {
    Q_OBJECT
public:
    PanelFooter(AppState& model, Updater& updater, QWidget* parent = nullptr);

signals:
    void quitRequested();

private:
    void render();

    AppState& model_;
    Updater& updater_;
    MenuSwitch* launchAtLogin_;
    BannerButton* approvalHint_;
    BannerButton* updateBanner_;
    std::vector<Subscription> subscriptions_;
};

} // namespace quellora
