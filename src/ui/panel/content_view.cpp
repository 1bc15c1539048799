#include "ui/panel/content_view.h"

#include "app/app_state.h"
#include "distribution/updater.h"
#include "ui/panel/apps_section.h"
#include "ui/panel/eased_value.h"
#include "ui/panel/fine_tune_sliders.h"
#include "ui/panel/fitting_size.h"
#include "ui/panel/menu_switch.h"
#include "ui/panel/mode_banner.h"
#include "ui/panel/model_observation.h"
#include "ui/panel/panel_footer.h"
#include "ui/panel/panel_header.h"
#include "ui/panel/preset_selector.h"
#include "ui/panel/programme_levelling_controls.h"
#include "ui/panel/switch_glow.h"
#include "ui/views/compressor_curve_view.h"
#include "ui/views/live_waveform_view.h"
#include "ui/views/ui_style.h"

#include <QBoxLayout>
#include <QPainter>

namespace quellora {
namespace {

constexpr int panelWidth = 300;
constexpr int panelPadding = 16;

// A hairline between the panel's sections.
class Divider : public QWidget {
public:
    explicit Divider(QWidget* parent)
        : QWidget(parent) {
        setFixedHeight(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(rect(), style::primary(palette(), 0.1));
    }
};

} // namespace

struct ContentView::Parts {
    AppState& model;
    PanelHeader* header;
    CompressorCurveView* curve;
    LiveWaveformView* waveform;
    QWidget* fineTune; // presets, programme target and sliders: dimmed and inert together
    AppsSection* apps; // dimmed and inert with them
    EasedValue* curveOpacity;
    EasedValue* waveformOpacity;
    EasedValue* fineTuneOpacity;
    EasedValue* appsOpacity;
    SwitchGlow* glow;
    std::vector<Subscription> subscriptions;
};

ContentView::ContentView(AppState& model, Updater& updater, QWidget* parent)
    : QWidget(parent) {
    const auto& levelBuffer = model.engine().compressor().levelBuffer();
    auto* header = new PanelHeader(model, this);
    auto* curve = new CompressorCurveView(levelBuffer, this);
    auto* waveform = new LiveWaveformView(levelBuffer, this);
    auto* fineTune = new QWidget(this);
    auto* apps = new AppsSection(model, this);
    auto* footer = new PanelFooter(model, updater, this);
    curve->setObjectName("curve");
    waveform->setObjectName("waveform");
    fineTune->setObjectName("fineTune");
    apps->setObjectName("apps");
    connect(footer, &PanelFooter::quitRequested, this, &ContentView::quitRequested);

    auto* fineTuneColumn = new QVBoxLayout(fineTune);
    fineTuneColumn->setContentsMargins(0, 0, 0, 0);
    fineTuneColumn->setSpacing(8);
    fineTuneColumn->addWidget(new PresetSelector(model, fineTune));
    fineTuneColumn->addWidget(new ProgrammeLevellingControls(model, fineTune));
    fineTuneColumn->addWidget(new FineTuneSliders(model, fineTune));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(panelPadding, panelPadding, panelPadding, panelPadding);
    column->setSpacing(0);
    column->addWidget(header);
    column->addWidget(new ModeBanner(model, this));
    column->addSpacing(14);
    column->addWidget(curve);
    column->addSpacing(6);
    column->addWidget(waveform);
    column->addSpacing(14);
    column->addWidget(new Divider(this));
    column->addSpacing(8);
    column->addWidget(fineTune);
    column->addSpacing(8);
    column->addWidget(new Divider(this));
    column->addSpacing(8);
    column->addWidget(apps);
    column->addSpacing(8);
    column->addWidget(new Divider(this));
    column->addSpacing(8);
    column->addWidget(footer);
    setFixedWidth(panelWidth);

    parts_.reset(new Parts{model,
                           header,
                           curve,
                           waveform,
                           fineTune,
                           apps,
                           fadeable(*curve),
                           fadeable(*waveform),
                           fadeable(*fineTune),
                           fadeable(*apps),
                           new SwitchGlow(*this, MenuSwitch::mainSize),
                           {}});
    parts_->subscriptions = observePresets(model, [this] { render(); });
    append(parts_->subscriptions, observeAll([this] { render(); }, model.mode(), model.menuIsOpen(),
                                             model.programmeLevelling()));
    render();
}

ContentView::~ContentView() = default;

QSize ContentView::sizeHint() const {
    return fittingSize(*this, panelWidth);
}

void ContentView::render() {
    auto& parts = *parts_;
    const auto kind = parts.model.mode().get().kind();
    const bool active = kind == AppMode::Kind::on;
    const bool panelOpen = parts.model.menuIsOpen().get();

    parts.curve->setParams(parts.model.effectiveParams());
    parts.curve->setChain(parts.model.selectedPreset().get() == Preset::night
                              ? ChainKind::night
                              : ChainKind::standard);
    const auto& programmes = parts.model.programmeLevelling().get();
    parts.curve->setProgrammeTarget(programmes.enabled ? std::optional(programmes.targetLufs)
                                                       : std::nullopt);
    parts.curve->setCompressionEnabled(active);
    parts.curve->setPanelVisible(panelOpen);
    parts.waveform->setCompressionEnabled(active);
    parts.waveform->setPanelVisible(panelOpen);

    parts.curveOpacity->setTarget(active ? 1.0 : 0.5);
    parts.waveformOpacity->setTarget(active ? 1.0 : 0.2);
    parts.fineTuneOpacity->setTarget(active ? 1.0 : 0.4);
    parts.appsOpacity->setTarget(active ? 1.0 : 0.4);
    // Disabled, the presets, sliders and applications take neither clicks
    // nor keyboard focus.
    parts.fineTune->setEnabled(active);
    parts.apps->setEnabled(active);

    parts.glow->setShown(kind == AppMode::Kind::off);
    parts.glow->setPulsing(panelOpen);
}

void ContentView::paintEvent(QPaintEvent*) {
    auto& toggle = parts_->header->compressionSwitch();
    const QRectF switchRect(toggle.mapTo(this, QPoint(0, 0)), toggle.size());
    QPainter painter(this);
    parts_->glow->paint(painter, switchRect);
}

} // namespace quellora
