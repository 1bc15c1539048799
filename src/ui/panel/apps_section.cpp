#include "ui/panel/apps_section.h"

#include "ui/panel/menu_switch.h"
#include "ui/panel/model_observation.h"
#include "ui/panel/plain_button.h"
#include "ui/panel/tinted_label.h"
#include "ui/views/ui_style.h"

#include <QBoxLayout>
#include <QIcon>
#include <QPainter>
#include <algorithm>

namespace quellora {
namespace {

constexpr int iconSide = 16;

// The application's icon from the desktop's theme; without one, its
// initial on a tinted disc.
class ApplicationIcon : public QWidget {
public:
    explicit ApplicationIcon(QWidget* parent)
        : QWidget(parent) {
        setFixedSize(iconSide, iconSide);
    }

    void show(const std::string& iconName, const std::string& name) {
        icon_ = iconName.empty() ? QIcon() : QIcon::fromTheme(QString::fromStdString(iconName));
        initial_ = name.empty() ? QString() : QString::fromStdString(name).left(1).toUpper();
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        if (!icon_.isNull()) {
            icon_.paint(&painter, rect());
            return;
        }
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(style::accent(0.2));
        painter.drawEllipse(QRectF(rect()));
        painter.setPen(style::accent());
        painter.setFont(style::systemFont(9, QFont::DemiBold));
        painter.drawText(rect(), Qt::AlignCenter, initial_);
    }

private:
    QIcon icon_;
    QString initial_;
};

QString switchDescription(const ApplicationEntry& entry) {
    if (!entry.direct) {
        return "Quellora levels it; switch off to let it play straight to the output";
    }
    return "It plays straight to the output; switch on to let Quellora level it";
}

} // namespace

QString appsSummary(const std::vector<ApplicationEntry>& entries) {
    const auto present = std::count_if(entries.begin(), entries.end(),
                                       [](const auto& entry) { return entry.present; });
    if (present == 0) {
        return "none";
    }
    const auto direct = std::count_if(entries.begin(), entries.end(), [](const auto& entry) {
        return entry.present && entry.direct;
    });
    auto summary = QString::number(present);
    return direct == 0 ? summary : summary + ", " + QString::number(direct) + " direct";
}

QString applicationDetail(const ApplicationEntry& entry) {
    if (!entry.present) {
        return "remembered";
    }
    QStringList parts;
    if (const auto& device = entry.application.outputDeviceName; !device.empty()) {
        parts << "plays on " + QString::fromStdString(device);
    } else if (const auto reason = directOutputReasonText(entry.defaultReason); !reason.empty()) {
        parts << QString::fromStdString(reason);
    }
    if (!entry.application.playing) {
        parts << "paused";
    }
    return parts.join(", ");
}

AppsSection::AppsSection(AppState& model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , disclosure_(new PlainButton(this))
    , list_(new QWidget(this))
    , rows_(new QVBoxLayout)
    , empty_(new TintedLabel("No application plays now.", style::systemFont(11), &style::tertiary,
                             list_)) {
    disclosure_->setObjectName("appsDisclosure");
    disclosure_->setText("Apps");
    disclosure_->setTextStyle(style::systemFont(12, QFont::Medium), &style::primaryText);
    disclosure_->setAccessibleDescription(
        "Shows the applications that play, each levelled or direct");
    connect(disclosure_, &PlainButton::clicked, this, [this] { setExpanded(!expanded_); });

    list_->setObjectName("appsList");
    rows_->setContentsMargins(0, 0, 0, 0);
    rows_->setSpacing(6);
    auto* listColumn = new QVBoxLayout(list_);
    listColumn->setContentsMargins(0, 0, 0, 0);
    listColumn->setSpacing(0);
    listColumn->addWidget(empty_);
    listColumn->addLayout(rows_);
    list_->hide();

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    column->addWidget(disclosure_, 0, Qt::AlignLeft);
    column->addWidget(list_);

    subscriptions_ = observeAll([this] { render(); }, model_.applications());
    render();
}

void AppsSection::setExpanded(bool expanded) {
    expanded_ = expanded;
    list_->setVisible(expanded);
    render();
}

AppsSection::Row AppsSection::makeRow() {
    auto* widget = new QWidget(list_);
    auto* icon = new ApplicationIcon(widget);
    auto* name = new ElidedLabel({}, style::systemFont(11), &style::primaryText, widget);
    auto* detail = new TintedLabel({}, style::systemFont(10), &style::secondary, widget);
    auto* forget = new PlainButton(widget);
    forget->setSymbol(Symbol::trash, 10, style::fixedTint(style::red(0.5)));
    forget->setPadding(2, 0);
    forget->setToolTip("Forget this choice");
    forget->setAccessibleDescription("The application plays as by default again");
    auto* toggle = new MenuSwitch(MenuSwitch::smallSize, widget);
    auto* layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(icon);
    layout->addWidget(name, 1);
    layout->addWidget(detail);
    layout->addWidget(forget);
    layout->addWidget(toggle);
    Row made{{}, widget, icon, name, detail, forget, toggle};
    connect(forget, &PlainButton::clicked, this, [this, forget] {
        const auto found = std::find_if(shown_.begin(), shown_.end(), [forget](const Row& shown) {
            return shown.forget == forget;
        });
        if (found != shown_.end()) {
            model_.forgetApplicationChoice(found->bundleID);
        }
    });
    connect(toggle, &MenuSwitch::clicked, this, [this, toggle] {
        const auto found = std::find_if(shown_.begin(), shown_.end(), [toggle](const Row& shown) {
            return shown.toggle == toggle;
        });
        if (found != shown_.end()) {
            // On means levelled: a click on it sends the application direct.
            model_.setApplicationDirect(found->bundleID, toggle->isOn());
        }
        render(); // the outcome, also if nothing changed
    });
    return made;
}

void AppsSection::showEntry(Row& row, const ApplicationEntry& entry) {
    const auto name = QString::fromStdString(entry.application.name);
    row.bundleID = entry.application.bundleID;
    static_cast<ApplicationIcon*>(row.icon)->show(entry.application.iconName,
                                                  entry.application.name);
    row.name->setFullText(name);
    const auto detail = applicationDetail(entry);
    row.detail->setText(detail);
    row.detail->setVisible(!detail.isEmpty());
    row.forget->setVisible(!entry.present);
    row.forget->setAccessibleName("Forget " + name);
    row.toggle->setOn(!entry.direct);
    row.toggle->setAccessibleName(name);
    row.toggle->setAccessibleDescription(switchDescription(entry));
}

void AppsSection::render() {
    const auto& entries = model_.applications().get();
    disclosure_->setSymbol(expanded_ ? Symbol::chevronDown : Symbol::chevronRight, 9,
                           &style::secondary);
    disclosure_->setHint(appsSummary(entries), style::systemFont(11), &style::tertiary);
    disclosure_->setAccessibleName(expanded_ ? "Apps, expanded" : "Apps, collapsed");
    // Rows are reused as the list changes; what a row shows is set anew each time.
    while (shown_.size() < entries.size()) {
        shown_.push_back(makeRow());
        rows_->addWidget(shown_.back().widget);
    }
    for (std::size_t index = 0; index < shown_.size(); ++index) {
        auto& row = shown_[index];
        const bool used = index < entries.size();
        if (used) {
            showEntry(row, entries[index]);
        }
        row.widget->setVisible(used);
    }
    empty_->setVisible(std::none_of(entries.begin(), entries.end(),
                                    [](const auto& entry) { return entry.present; }));
}

} // namespace quellora
