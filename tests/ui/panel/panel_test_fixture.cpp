#include "panel_test_fixture.h"

#include <QAbstractButton>
#include <QDir>
#include <QLabel>

namespace quellora {

void PanelTest::TearDown() {
    view_.reset();
    AppStateTest::TearDown();
}

void PanelTest::screenshot(QWidget& view, const QString& name) {
    // Shown (offscreen), so that every nested layout has done its work.
    view.resize(view.sizeHint());
    view.show();
    QCoreApplication::processEvents();
    QDir().mkpath(QUELLORA_SCREENSHOT_DIR);
    const auto path = QString(QUELLORA_SCREENSHOT_DIR) + "/" + name + ".png";
    // On the window colour, as the panel sits on its menu.
    QPixmap image(view.size() * 2);
    image.setDevicePixelRatio(2);
    image.fill(view.palette().color(QPalette::Window));
    view.render(&image, {}, {}, QWidget::DrawChildren);
    EXPECT_TRUE(image.save(path)) << path.toStdString();
}

QString PanelTest::accessibleName(QWidget& widget) {
    const auto* interface = QAccessible::queryAccessibleInterface(&widget);
    return interface ? interface->text(QAccessible::Name) : QString();
}

void PanelTest::expectContentFits(const QWidget& view) {
    // A hint short of what wrapped text needs would have been overruled.
    EXPECT_EQ(view.size(), view.sizeHint());
    for (const auto* widget : view.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&view)) {
            continue;
        }
        const QRect area(widget->mapTo(&view, QPoint(0, 0)), widget->size());
        EXPECT_TRUE(view.rect().contains(area))
            << widget->metaObject()->className() << " at " << area.y() << "+" << area.height()
            << " in " << view.height();
        const int wanted = widget->hasHeightForWidth() ? widget->heightForWidth(widget->width())
                                                       : widget->sizeHint().height();
        EXPECT_GE(widget->height(), wanted) << widget->metaObject()->className() << " squeezed";
        // Nor is a button narrower than its title needs.
        if (qobject_cast<const QAbstractButton*>(widget)) {
            EXPECT_GE(widget->width(), widget->sizeHint().width())
                << widget->metaObject()->className() << " \""
                << widget->accessibleName().toStdString() << "\" cut";
        }
    }
}

QStringList PanelTest::shownTexts(const QWidget& root) {
    QStringList texts;
    for (const auto* label : root.findChildren<QLabel*>()) {
        if (label->isVisibleTo(&root)) {
            texts << label->text();
        }
    }
    for (const auto* button : root.findChildren<QAbstractButton*>()) {
        if (button->isVisibleTo(&root)) {
            texts << button->text();
        }
    }
    return texts;
}

} // namespace quellora
