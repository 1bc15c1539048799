#include "ui/views/graphic_accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QVariant>
#include <QWidget>
#include <mutex>

namespace quellora {
namespace {

constexpr char graphicProperty[] = "quelloraAccessibleGraphic";

class GraphicAccessible final : public QAccessibleWidget {
public:
    explicit GraphicAccessible(QWidget* widget)
        : QAccessibleWidget(widget, QAccessible::Graphic) {}

    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
};

QAccessibleInterface* graphicFactory(const QString&, QObject* object) {
    if (object == nullptr || !object->isWidgetType() ||
        !object->property(graphicProperty).toBool()) {
        return nullptr;
    }
    return new GraphicAccessible(static_cast<QWidget*>(object));
}

} // namespace

void presentAsGraphic(QWidget& widget, const QString& name) {
    static std::once_flag installed;
    std::call_once(installed, [] { QAccessible::installFactory(&graphicFactory); });
    widget.setProperty(graphicProperty, true);
    widget.setAccessibleName(name);
}

} // namespace quellora
