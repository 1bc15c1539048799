#include "ui/panel/button_accessible.h"

#include <QAbstractButton>

namespace quellora {

ButtonAccessible::ButtonAccessible(QAbstractButton* button)
    : QAccessibleWidget(button, QAccessible::Button) {}

QAbstractButton* ButtonAccessible::button() const {
    return static_cast<QAbstractButton*>(widget());
}

QAccessible::Role ButtonAccessible::role() const {
    return button()->isCheckable() ? QAccessible::CheckBox : QAccessible::Button;
}

QAccessible::State ButtonAccessible::state() const {
    auto state = QAccessibleWidget::state();
    state.checkable = button()->isCheckable();
    state.checked = button()->isChecked();
    state.pressed = button()->isDown();
    return state;
}

QString ButtonAccessible::text(QAccessible::Text text) const {
    if (text == QAccessible::Name && widget()->accessibleName().isEmpty()) {
        return button()->text();
    }
    return QAccessibleWidget::text(text);
}

QStringList ButtonAccessible::actionNames() const {
    QStringList names;
    if (widget()->isEnabled()) {
        if (button()->isCheckable()) {
            names << toggleAction();
        }
        names << pressAction();
    }
    return names + QAccessibleWidget::actionNames();
}

void ButtonAccessible::doAction(const QString& action) {
    if (action != pressAction() && action != toggleAction()) {
        QAccessibleWidget::doAction(action);
    } else if (widget()->isEnabled()) {
        button()->click();
    }
}

} // namespace quellora
