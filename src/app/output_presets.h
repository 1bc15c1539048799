#pragma once

#include "app/settings_coding_error.h"
#include "base/uuid.h"
#include "dsp/compressor_params.h"
#include "dsp/preset.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace quellora {

// A preset as an output remembers it: Standard or Night; a saved preset (by
// its ID); or Custom with its values, which are the output's own, since
// picking a saved preset elsewhere overwrites the live custom values.
struct PresetChoice {
    Preset preset = Preset::on;
    std::optional<Uuid> savedPresetID;
    std::optional<CompressorParams> customParams;

    friend bool operator==(const PresetChoice&, const PresetChoice&) = default;
};

// The preset each output device (by UID) had when the user last picked one on it.
using OutputPresets = std::map<std::string, PresetChoice>;

// The stored form: one JSON object, output UID to "On", "Night", a saved
// preset's UUID, or {"preset": "Custom", "params": {the seven values}}.
std::string encodeOutputPresets(const OutputPresets& presets);
// Throws SettingsCodingError unless `json` is such an object; entries it
// cannot read are skipped, and custom values come back clamped.
OutputPresets decodeOutputPresets(std::string_view json);

} // namespace quellora
