#pragma once

#include "app/settings_coding_error.h"
#include "base/uuid.h"
#include "dsp/compressor_params.h"
#include "dsp/param_range.h"
#include "dsp/preset.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace quellora {

// "Even out programmes": whether every programme is brought to one
// loudness ahead of the compressor, and which.
struct ProgrammeLevelling {
    bool enabled = false;
    float targetLufs = ParamRange::defaultProgrammeTargetLufs;

    friend bool operator==(const ProgrammeLevelling&, const ProgrammeLevelling&) = default;
};

// What an output plays, as it remembers it: Standard or Night; a saved
// preset (by its ID) with the values heard, which differ from the saved
// ones when it was edited since; or Custom with its values, which are the
// output's own, since picking a saved preset elsewhere overwrites the live
// custom values. And whether programmes are evened out, at which target.
struct PresetChoice {
    Preset preset = Preset::on;
    std::optional<Uuid> savedPresetID;
    std::optional<CompressorParams> customParams;
    ProgrammeLevelling programmes;

    friend bool operator==(const PresetChoice&, const PresetChoice&) = default;
};

// The preset each output device (by UID) had when the user last picked one on it.
using OutputPresets = std::map<std::string, PresetChoice>;

// The stored form: one JSON object, output UID to {"preset": "On", "Night",
// "Custom" or a saved preset's UUID, "params": {the seven values} for Custom
// and saved presets, "evenOut": bool, "targetLufs": number}. The older forms
// ("On", "Night", a UUID, or the object without the last two) still read.
std::string encodeOutputPresets(const OutputPresets& presets);
// Throws SettingsCodingError unless `json` is such an object; entries it
// cannot read are skipped, and values come back clamped.
OutputPresets decodeOutputPresets(std::string_view json);

} // namespace quellora
