#pragma once

#include "app/app_state.h"
#include "cli/preset_selection.h"

namespace quellora {

// Puts the model on the selection the way a person would in the panel: the
// saved preset (or a built-in one), then each parameter that differs from
// it as a slider move, so that the model saves the result and the engine
// runs it.
void applyPresetSelection(AppState& model, const PresetSelection& selection);

} // namespace quellora
