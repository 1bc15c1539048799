#include "ui/panel/preset_selector.h"

#include "app/app_state.h"
#include "ui/panel/model_observation.h"
#include "ui/panel/plain_button.h"
#include "ui/panel/preset_pill.h"
#include "ui/panel/tinted_label.h"
#include "ui/views/ui_style.h"

#include <QBoxLayout>
#include <QStyle>
#include <algorithm>
#include <numeric>

namespace quellora {
namespace {

// The pills keep a pixel on their trailing and top sides for the edited dot,
// so the spacing is one less than the six it looks like, across and down.
constexpr int pillSpacing = 5;

PlainButton* actionButton(const QString& text, const QString& name, const QString& hint,
                          QWidget* parent) {
    auto* button = new PlainButton(parent);
    button->setText(text);
    button->setTextStyle(style::systemFont(11, QFont::Medium), style::fixedTint(style::accent()));
    button->setAccessibleName(name);
    button->setAccessibleDescription(hint);
    return button;
}

} // namespace

// The pills in reading order from the leading edge, wrapped onto as many
// rows as the width needs. The item kept with the one before it (the delete
// button with its pill) never starts a row: the two wrap together.
class PillRowLayout final : public QLayout {
public:
    PillRowLayout() { setSpacing(pillSpacing); }
    ~PillRowLayout() override {
        while (auto* item = PillRowLayout::takeAt(0)) {
            delete item;
        }
    }

    void insertWidget(int index, QWidget* widget) {
        addChildWidget(widget);
        items_.insert(items_.begin() + std::clamp(index, 0, count()), new QWidgetItem(widget));
        invalidate();
    }
    void keepWithPrevious(const QWidget* widget) { kept_ = widget; }

    void addItem(QLayoutItem* item) override {
        items_.push_back(item);
        invalidate();
    }
    int count() const override { return static_cast<int>(items_.size()); }
    QLayoutItem* itemAt(int index) const override {
        return index >= 0 && index < count() ? items_[static_cast<std::size_t>(index)] : nullptr;
    }
    QLayoutItem* takeAt(int index) override {
        auto* item = itemAt(index);
        if (item) {
            items_.erase(items_.begin() + index);
        }
        return item;
    }
    Qt::Orientations expandingDirections() const override { return {}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return arrange(QRect(0, 0, width, 0), false); }
    // All on one row.
    QSize sizeHint() const override {
        const auto row = shownItems();
        return grownByMargins({rowWidth(row), rowHeight(row)});
    }
    // The widest pill, alone on its row.
    QSize minimumSize() const override {
        int widest = 0;
        for (const auto* item : shownItems()) {
            widest = std::max(widest, item->sizeHint().width());
        }
        return grownByMargins({widest, rowHeight(shownItems())});
    }
    void setGeometry(const QRect& rect) override {
        QLayout::setGeometry(rect);
        arrange(rect, true);
    }

private:
    using Row = std::vector<QLayoutItem*>;

    Row shownItems() const {
        Row shown;
        std::copy_if(items_.begin(), items_.end(), std::back_inserter(shown),
                     [](const QLayoutItem* item) { return !item->isEmpty(); });
        return shown;
    }
    int rowWidth(const Row& row) const {
        const int widths =
            std::accumulate(row.begin(), row.end(), 0, [](int sum, const auto* item) {
                return sum + item->sizeHint().width();
            });
        return row.empty() ? 0 : widths + spacing() * static_cast<int>(row.size() - 1);
    }
    static int rowHeight(const Row& row) {
        int height = 0;
        for (const auto* item : row) {
            height = std::max(height, item->sizeHint().height());
        }
        return height;
    }
    QSize grownByMargins(QSize size) const {
        const auto margins = contentsMargins();
        return size.grownBy(margins);
    }

    // Lays the items out in `rect` when `place`; the height they take.
    int arrange(const QRect& rect, bool place) const {
        const QRect area = rect.marginsRemoved(contentsMargins());
        std::vector<Row> rows;
        for (auto* item : shownItems()) {
            if (rows.empty()) {
                rows.emplace_back();
            }
            rows.back().push_back(item);
            if (rows.back().size() > 1 && rowWidth(rows.back()) > area.width()) {
                auto& full = rows.back();
                full.pop_back();
                Row next;
                if (item->widget() == kept_ && full.size() > 1) {
                    next.push_back(full.back());
                    full.pop_back();
                }
                next.push_back(item);
                rows.push_back(std::move(next));
            }
        }
        const auto direction = parentWidget() ? parentWidget()->layoutDirection() : Qt::LeftToRight;
        int y = area.top();
        for (const auto& row : rows) {
            const int height = rowHeight(row);
            int x = area.left();
            for (auto* item : row) {
                // Only a title wider than the whole row is cut.
                const int width = std::min(item->sizeHint().width(), area.width());
                if (place) {
                    item->setGeometry(
                        QStyle::visualRect(direction, area, QRect(x, y, width, height)));
                }
                x += width + spacing();
            }
            y += height + spacing();
        }
        const int bottom = rows.empty() ? area.top() : y - spacing();
        return bottom - rect.top() + contentsMargins().bottom();
    }

    std::vector<QLayoutItem*> items_;
    const QWidget* kept_ = nullptr;
};

PresetSelector::PresetSelector(AppState& model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , pillRow_(new PillRowLayout)
    , standard_(new PresetPill("Standard", this))
    , night_(new PresetPill("Night", this))
    , delete_(new PlainButton(this))
    , update_(actionButton("Update", "Update Preset",
                           "Overwrites the selected preset with the current sliders", this))
    , save_(actionButton({}, "Save as New Preset", "Saves the current sliders as a new preset",
                         this)) {
    standard_->setObjectName("standardPresetPill");
    standard_->setAccessibleName("Standard preset");
    connect(standard_, &PresetPill::clicked, this, [this] { model_.selectStandard(); });
    night_->setObjectName("nightPresetPill");
    night_->setAccessibleName("Night preset");
    night_->setToolTip("Night: dialogue up, explosions down, nothing clipped");
    connect(night_, &PresetPill::clicked, this, [this] { model_.selectNight(); });

    delete_->setObjectName("deletePresetButton");
    delete_->setSymbol(Symbol::trash, 10, style::fixedTint(style::red(0.5)));
    delete_->setPadding(2, 0);
    delete_->setToolTip("Delete the selected preset");
    delete_->setAccessibleName("Delete Preset");
    delete_->setAccessibleDescription("Removes the currently selected saved preset");
    connect(delete_, &PlainButton::clicked, this, [this] { model_.deleteActivePreset(); });

    save_->setSymbol(Symbol::plus, 9, style::fixedTint(style::accent()));
    save_->setSpacing(3);
    connect(update_, &PlainButton::clicked, this, [this] { model_.updateActivePreset(); });
    connect(save_, &PlainButton::clicked, this, [this] { model_.saveAsNewPreset(); });

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(new TintedLabel("Fine Tune", style::systemFont(12, QFont::Medium),
                                      &style::primaryText, this));
    header->addStretch();
    header->addWidget(update_);
    header->addWidget(save_);

    pillRow_->addWidget(standard_);
    pillRow_->addWidget(night_);
    pillRow_->addWidget(delete_);
    pillRow_->keepWithPrevious(delete_);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    column->addLayout(header);
    column->addLayout(pillRow_);

    subscriptions_ = observeAll([this] { rebuildSavedPills(); }, model_.savedPresets());
    append(subscriptions_, observePresets(model_, [this] { render(); }));
    rebuildSavedPills();
}

void PresetSelector::rebuildSavedPills() {
    for (const auto& saved : savedPills_) {
        pillRow_->removeWidget(saved.pill);
        saved.pill->hide();
        saved.pill->deleteLater(); // it may be the sender of the click that got us here
    }
    savedPills_.clear();
    int index = pillRow_->indexOf(night_) + 1;
    for (const auto& preset : model_.savedPresets().get()) {
        auto* pill = new PresetPill(presetPillTitle(preset.name), this);
        pill->setToolTip(presetPillToolTip(preset.name));
        connect(pill, &PresetPill::clicked, this, [this, id = preset.id] {
            const auto& presets = model_.savedPresets().get();
            const auto found = std::find_if(presets.begin(), presets.end(),
                                            [&](const SavedPreset& p) { return p.id == id; });
            if (found != presets.end()) {
                model_.applyPreset(*found);
            }
        });
        pillRow_->insertWidget(index++, pill);
        pill->show(); // a child added to a shown panel stays hidden until told
        savedPills_.push_back({preset.id, pill});
    }
    render();
}

void PresetSelector::render() {
    const auto& activeID = model_.activePresetID().get();
    standard_->setState(model_.selectedPreset().get() == Preset::on && !activeID, false);
    night_->setState(model_.selectedPreset().get() == Preset::night && !activeID, false);
    const PresetPill* activePill = nullptr;
    const bool edited = model_.isActivePresetEdited();
    for (const auto& saved : savedPills_) {
        const bool active = activeID == saved.id;
        saved.pill->setState(active, active && edited);
        if (active) {
            activePill = saved.pill;
        }
    }
    placeDeleteButton(activePill);

    update_->setVisible(model_.canUpdatePreset());
    save_->setVisible(model_.canSaveAsNewPreset());
    save_->setText(model_.canUpdatePreset() ? "New" : "Save");
}

void PresetSelector::placeDeleteButton(const PresetPill* activePill) {
    pillRow_->removeWidget(delete_);
    if (!activePill) {
        delete_->hide();
        pillRow_->addWidget(delete_);
        return;
    }
    pillRow_->insertWidget(pillRow_->indexOf(activePill) + 1, delete_);
    delete_->show();
}

} // namespace quellora
