#pragma once

#include "base/observable.h"

#include <QWidget>
#include <vector>

namespace quellora {

class AppState;

// The seven sliders of the custom parameters, each writing its value to the
// model and showing the model's value.
class FineTuneSliders : public QWidget {
    Q_OBJECT
public:
    explicit FineTuneSliders(AppState& model, QWidget* parent = nullptr);

private:
    std::vector<Subscription> subscriptions_;
};

} // namespace quellora
