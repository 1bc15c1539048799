#include "ui/panel/panel_footer.h"

#include "app/app_state.h"
#include "app/xdg_autostart_login_item.h"
#include "distribution/updater.h"
#include "ui/panel/banner_button.h"
#include "ui/panel/menu_switch.h"
#include "ui/panel/model_observation.h"
#include "ui/panel/plain_button.h"
#include "ui/panel/tinted_label.h"
#include "ui/views/ui_style.h"

#include <QBoxLayout>
#include <QDesktopServices>
#include <QKeySequence>

namespace quellora {

PanelFooter::PanelFooter(AppState& model, Updater& updater, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , updater_(updater)
    , launchAtLogin_(new MenuSwitch(MenuSwitch::smallSize, this))
    , approvalHint_(
          new BannerButton({style::fixedTint(style::orange()), style::orange(0.06), 11}, this))
    , updateBanner_(
          new BannerButton({style::fixedTint(style::accent()), style::accent(0.12), 12}, this)) {
    launchAtLogin_->setObjectName("launchAtLoginSwitch");
    launchAtLogin_->setAccessibleName("Launch at Login");
    launchAtLogin_->setAccessibleDescription("Automatically start Quellora when you log in");
    connect(launchAtLogin_, &MenuSwitch::clicked, this, [this] {
        model_.setLaunchAtLogin(!launchAtLogin_->isOn());
        render(); // a refused registration leaves the status, and so the switch, as it was
    });

    auto* support = new PlainButton(this);
    support->setSymbol(Symbol::questionmarkCircle, 12, &style::secondary);
    support->setToolTip("Support & FAQ");
    support->setAccessibleName("Support and FAQ");
    support->setAccessibleDescription("Opens the Quellora support page in your browser");
    connect(support, &PlainButton::clicked, this,
            [] { QDesktopServices::openUrl(supportPageUrl); });

    auto* quit = new PlainButton(this);
    quit->setText("Quit");
    // The tray quits on the desktop's own quit shortcut.
    quit->setHint(QKeySequence(Qt::CTRL | Qt::Key_Q).toString(QKeySequence::NativeText),
                  style::systemFont(11), &style::tertiary);
    quit->setAccessibleName("Quit Quellora");
    connect(quit, &PlainButton::clicked, this, &PanelFooter::quitRequested);

    auto* settings = new QWidget(this);
    settings->setAccessibleName("App settings");
    auto* settingsRow = new QHBoxLayout(settings);
    settingsRow->setContentsMargins(0, 0, 0, 0);
    settingsRow->setSpacing(8);
    settingsRow->addWidget(launchAtLogin_);
    settingsRow->addWidget(
        new TintedLabel("Launch at Login", style::systemFont(12), &style::primaryText, settings));
    settingsRow->addStretch();
    settingsRow->addWidget(support);
    settingsRow->addWidget(quit);

    approvalHint_->setObjectName("approvalHint");
    approvalHint_->setContent(Symbol::exclamationmarkTriangleFill,
                              "Approve Quellora in your startup applications");
    approvalHint_->setAccessibleName("Approve Quellora in your startup applications");
    approvalHint_->setAccessibleDescription(
        "Opens the folder of the programs that start when you log in");
    // Linux keeps login items as autostart entries; their folder is where a
    // user would look at them.
    connect(approvalHint_, &BannerButton::clicked, this, [] {
        QDesktopServices::openUrl(QUrl::fromLocalFile(
            QString::fromStdString(XdgAutostartLoginItem::defaultAutostartDirectory().string())));
    });

    updateBanner_->setObjectName("updateBanner");
    updateBanner_->setAccessibleDescription("Installs the latest version of Quellora");
    connect(updateBanner_, &BannerButton::clicked, this,
            [this] { updater_.installAvailableUpdate(); });

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    column->addWidget(settings);
    column->addWidget(approvalHint_);
    column->addWidget(updateBanner_);

    subscriptions_ = observeAll([this] { render(); }, model_.launchAtLoginStatus(),
                                updater_.updateAvailable(), updater_.isInstalling());
    render();
}

void PanelFooter::render() {
    launchAtLogin_->setOn(model_.launchAtLogin());
    approvalHint_->setVisible(model_.launchAtLoginNeedsApproval());

    const bool installing = updater_.isInstalling().get();
    updateBanner_->setVisible(updater_.updateAvailable().get());
    updateBanner_->setContent(
        installing ? Symbol::arrowTriangle2Circlepath : Symbol::arrowDownCircleFill,
        installing ? "Installing update…" : "Update available", installing ? "" : "Install");
    updateBanner_->setAccessibleName(installing ? "Installing update" : "Update available");
    updateBanner_->setBarShown(installing);
}

} // namespace quellora
