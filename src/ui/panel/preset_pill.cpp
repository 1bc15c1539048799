#include "ui/panel/preset_pill.h"

#include "ui/panel/accessible_factory.h"
#include "ui/panel/button_accessible.h"
#include "ui/panel/panel_paint.h"
#include "ui/views/ui_style.h"

#include <QAccessible>
#include <QFontMetricsF>
#include <QPainter>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>

namespace quellora {
namespace {

constexpr double horizontalPadding = 10.0;
constexpr double verticalPadding = 3.0;
constexpr double editedDotSize = 5.0;
// The edited dot pokes out one pixel above and to the trailing side of the
// capsule, so the pill keeps that much room around it.
constexpr double dotOverhang = 1.0;

// Reads as a whole number the way a person would type one: an optional sign
// and digits, within 64 bits.
bool readsAsInteger(std::string_view text) {
    if (text.starts_with('+')) {
        text.remove_prefix(1);
        if (text.starts_with('-')) {
            return false;
        }
    }
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

// The active pill reads as selected, as the current tab of a row would.
class PresetPillAccessible final : public ButtonAccessible {
public:
    explicit PresetPillAccessible(PresetPill* pill)
        : ButtonAccessible(pill) {}

    QAccessible::State state() const override {
        auto state = ButtonAccessible::state();
        state.selectable = true;
        state.selected = static_cast<const PresetPill*>(button())->isActive();
        return state;
    }
};

} // namespace

QString presetPillTitle(const std::string& presetName) {
    constexpr std::string_view generatedPrefix = "Preset ";
    std::string remainder;
    for (std::size_t at = 0; at < presetName.size();) {
        if (presetName.compare(at, generatedPrefix.size(), generatedPrefix) == 0) {
            at += generatedPrefix.size();
        } else {
            remainder += presetName[at++];
        }
    }
    return QString::fromStdString(readsAsInteger(remainder) ? remainder : presetName);
}

QString presetPillToolTip(const std::string& presetName) {
    return QStringLiteral("<p style='white-space:pre'>%1</p>")
        .arg(QString::fromStdString(presetName).toHtmlEscaped());
}

QString presetPillAccessibleName(const QString& title, bool edited) {
    return title + " preset" + (edited ? ", edited" : "");
}

PresetPill::PresetPill(const QString& title, QWidget* parent)
    : QAbstractButton(parent) {
    useAccessibleInterface<PresetPill, PresetPillAccessible>();
    setText(title);
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(presetPillAccessibleName(title, false));
}

void PresetPill::setState(bool active, bool edited) {
    if (active == active_ && edited == edited_) {
        return;
    }
    const bool activeChanged = active != active_;
    active_ = active;
    edited_ = edited;
    setAccessibleName(presetPillAccessibleName(text(), edited));
    if (activeChanged) {
        QAccessible::State changed;
        changed.selected = true;
        QAccessibleStateChangeEvent event(this, changed);
        QAccessible::updateAccessibility(&event);
        updateGeometry(); // the title's weight changes its width
    }
    update();
}

QFont PresetPill::titleFont() const {
    return style::systemFont(11, active_ ? QFont::DemiBold : QFont::Medium);
}

QSize PresetPill::sizeHint() const {
    const QFontMetricsF metrics(titleFont());
    return QSize(static_cast<int>(std::ceil(metrics.horizontalAdvance(text()) +
                                            2 * horizontalPadding + dotOverhang)),
                 static_cast<int>(std::ceil(metrics.height() + 2 * verticalPadding + dotOverhang)));
}

QRectF PresetPill::capsule() const {
    return QRectF(0, dotOverhang, width() - dotOverhang, height() - dotOverhang);
}

void PresetPill::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isDown()) {
        painter.setOpacity(0.6);
    }
    const QRectF shape = capsule();
    const double radius = shape.height() / 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(style::accent(active_ ? 0.28 : 0.1));
    painter.drawRoundedRect(shape, radius, radius);

    painter.setFont(titleFont());
    painter.setPen(style::accent(active_ ? 1.0 : 0.7));
    // Only a title wider than the panel is ever cut; its tooltip has it all.
    const auto title =
        QFontMetricsF(titleFont())
            .elidedText(text(), Qt::ElideRight, shape.width() - 2 * horizontalPadding);
    painter.drawText(shape, Qt::AlignCenter, title);

    if (edited_) {
        painter.setBrush(style::accent());
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(QRectF(shape.right() - editedDotSize + dotOverhang,
                                   shape.top() - dotOverhang, editedDotSize, editedDotSize));
    }
    style::paintFocusRing(painter, *this, shape, radius);
}

} // namespace quellora
