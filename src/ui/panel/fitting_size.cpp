#include "ui/panel/fitting_size.h"

#include <QLayout>
#include <QWidget>

namespace quellora {

QSize fittingSize(const QWidget& view, int width) {
    const QLayout* layout = view.layout();
    if (!layout) {
        return {width, 0};
    }
    return {width, layout->hasHeightForWidth() ? layout->totalHeightForWidth(width)
                                               : layout->totalSizeHint().height()};
}

} // namespace quellora
