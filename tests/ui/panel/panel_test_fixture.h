#pragma once

#include "app/app_test_fixture.h"
#include "distribution/updater.h"
#include "support/staging_update_driver.h"

#include <QAccessible>
#include <QString>
#include <QWidget>
#include <memory>

namespace quellora {

// The model on the simulated server (see AppStateTest) with an updater, for
// views that show them. The Qt application is the program's (offscreen).
class PanelTest : public AppStateTest {
protected:
    void TearDown() override;

    // Holds `view` until the end of the test, so that it goes before the model.
    template <typename View>
    View& keep(std::unique_ptr<View> view) {
        auto& kept = *view;
        view_ = std::move(view);
        return kept;
    }

    // Shows the view at its own size hint and writes it to
    // <build>/screenshots/<name>.png for people to look at, rendered at a
    // device pixel ratio of 2 as on a high-density screen.
    static void screenshot(QWidget& view, const QString& name);

    // The widget of type W under `root` that is shown (when `root` is) and
    // that assistive technology reads as `name`; null when there is none.
    template <typename W = QWidget>
    static W* accessible(const QWidget& root, const QString& name) {
        for (auto* widget : root.findChildren<W*>()) {
            if (widget->isVisibleTo(&root) && accessibleName(*widget) == name) {
                return widget;
            }
        }
        return nullptr;
    }
    static QString accessibleName(QWidget& widget);
    // `view`, shown at its size hint, holds every shown widget: the hint
    // leaves nothing out, and no button is cut.
    static void expectContentFits(const QWidget& view);
    // Every text that labels and buttons under `root` show.
    static QStringList shownTexts(const QWidget& root);

    std::shared_ptr<StagingUpdateDriver> driver = std::make_shared<StagingUpdateDriver>();
    Updater updater{driver, mainQueue, false};

private:
    std::unique_ptr<QWidget> view_;
};

} // namespace quellora
