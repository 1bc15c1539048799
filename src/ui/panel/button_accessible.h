#pragma once

#include <QAccessibleWidget>

class QAbstractButton;

namespace quellora {

// How assistive technology sees and works the panel's painted buttons and
// switches. Pressing one, or toggling a switch, is exactly a click, at once:
// the owner hears of it through clicked() and asks the model, as it does for
// the pointer and the keyboard. (Qt's own interface toggles a switch's state
// directly, which the owner never hears of.) A switch reads as a check box
// that is checked while on.
class ButtonAccessible : public QAccessibleWidget {
public:
    explicit ButtonAccessible(QAbstractButton* button);

    QAccessible::Role role() const override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text text) const override;
    QStringList actionNames() const override;
    void doAction(const QString& action) override;

protected:
    QAbstractButton* button() const;
};

} // namespace quellora
