#pragma once

#include "app/app_mode.h"
#include "base/observable.h"

#include <QWidget>
#include <vector>

namespace quellora {

class AppState;
class BoxFrame;
class TintedLabel;

enum class ModeBannerKind { none, lowVolume, error };

// Which banner the mode calls for: the low-volume advice while processing
// with the warning up, the failure text in an error, nothing otherwise.
ModeBannerKind modeBannerFor(const AppMode& mode, bool lowVolumeWarning);

// The banner under the header, with 12 pixels above it; takes no room when
// there is none.
class ModeBanner : public QWidget {
    Q_OBJECT
public:
    explicit ModeBanner(AppState& model, QWidget* parent = nullptr);

private:
    void render();

    AppState& model_;
    BoxFrame* lowVolume_;
    BoxFrame* error_;
    TintedLabel* errorText_;
    std::vector<Subscription> subscriptions_;
};

} // namespace quellora
