#pragma once

#include <QAccessible>
#include <QObject>

namespace quellora {

// Makes assistive technology describe every `Widget` through `Interface`
// (constructed from the widget). Installs the factory once per pair; call it
// from the widget's constructor.
template <typename Widget, typename Interface>
void useAccessibleInterface() {
    static const bool installed = [] {
        QAccessible::installFactory([](const QString&, QObject* object) -> QAccessibleInterface* {
            if (auto* widget = qobject_cast<Widget*>(object)) {
                return new Interface(widget);
            }
            return nullptr;
        });
        return true;
    }();
    (void)installed;
}

} // namespace quellora
