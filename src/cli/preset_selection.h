#pragma once

#include "cli/preset_options.h"
#include "dsp/compressor_params.h"
#include "dsp/saved_preset.h"

#include <optional>

namespace quellora {

// What the preset options come to.
struct PresetSelection {
    std::optional<SavedPreset> savedPreset; // as read from the file, when one was named
    ChainKind chain = ChainKind::standard;  // night only for "--preset night"
    CompressorParams params; // the preset's compressor, with the parameter options applied
    std::optional<float> programmeTarget; // LUFS, from --target
};

// The chosen preset (the standard one unless a saved preset is named), then
// every parameter option given explicitly. Reads the preset file if there is
// one; throws CommandError (bad input) for an unreadable or broken file, an
// unknown name or a value out of range.
PresetSelection selectPreset(const PresetOptions& options);

} // namespace quellora
