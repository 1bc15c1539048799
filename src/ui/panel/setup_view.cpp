#include "ui/panel/setup_view.h"

#include "app/app_state.h"
#include "ui/panel/fitting_size.h"
#include "ui/panel/permission_view.h"
#include "ui/panel/plain_button.h"
#include "ui/panel/success_view.h"
#include "ui/views/ui_style.h"

#include <QBoxLayout>

namespace quellora {
namespace {

constexpr int setupWidth = 340;
constexpr int setupPadding = 20;

} // namespace

struct SetupView::Parts {
    AppState& model;
    QWidget* permissionPage;
    SuccessView* success;
    Subscription subscription;
};

SetupView::SetupView(AppState& model, QWidget* parent)
    : QWidget(parent) {
    auto* permissionPage = new QWidget(this);
    auto* permission = new PermissionView(model, permissionPage);
    auto* quit = new PlainButton(permissionPage); // after the screen, in the focus order too
    quit->setText("Quit Quellora");
    quit->setTextStyle(style::systemFont(12), &style::secondary);
    quit->setAccessibleDescription("Quits Quellora");
    connect(quit, &PlainButton::clicked, this, &SetupView::quitRequested);
    auto* permissionColumn = new QVBoxLayout(permissionPage);
    permissionColumn->setContentsMargins(0, 0, 0, 0);
    permissionColumn->setSpacing(0);
    permissionColumn->addWidget(permission);
    permissionColumn->addSpacing(16);
    permissionColumn->addWidget(quit, 0, Qt::AlignHCenter);

    auto* success = new SuccessView(this);
    connect(success, &SuccessView::done, this, &SetupView::setupDone);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(setupPadding, setupPadding, setupPadding, setupPadding);
    column->setSpacing(0);
    column->addWidget(permissionPage);
    column->addWidget(success);
    setFixedWidth(setupWidth);

    parts_.reset(new Parts{model, permissionPage, success, {}});
    parts_->subscription = model.mode().subscribe([this](const AppMode&) { render(); });
    render();
}

SetupView::~SetupView() = default;

QSize SetupView::sizeHint() const {
    return fittingSize(*this, setupWidth);
}

void SetupView::setTrayShown(bool trayShown) {
    parts_->success->setTrayShown(trayShown);
}

void SetupView::render() {
    const bool needsPermission =
        parts_->model.mode().get().kind() == AppMode::Kind::needsPermission;
    parts_->permissionPage->setVisible(needsPermission);
    parts_->success->setVisible(!needsPermission);
}

} // namespace quellora
