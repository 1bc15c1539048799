#include "ui/panel/model_observation.h"

#include "dsp/compressor_param_fields.h"

namespace quellora {

std::vector<Subscription> observePresets(const AppState& model,
                                         const std::function<void()>& changed) {
    auto subscriptions =
        observeAll(changed, model.selectedPreset(), model.savedPresets(), model.activePresetID());
    for (std::size_t index = 0; index < compressorParamFields.size(); ++index) {
        subscriptions.push_back(
            model.customValue(static_cast<CustomParameter>(index)).subscribe([changed](float) {
                changed();
            }));
    }
    return subscriptions;
}

} // namespace quellora
