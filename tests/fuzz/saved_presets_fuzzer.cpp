// The saved-preset decoder: anything it accepts is inside the parameter
// ranges and survives encoding and decoding again unchanged.
#include "dsp/compressor_param_fields.h"
#include "dsp/saved_preset.h"

#include <cstdlib>

using namespace quellora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<SavedPreset> presets;
    try {
        presets = decodeSavedPresets({reinterpret_cast<const char*>(data), size});
    } catch (const PresetCodingError&) {
        return 0;
    }
    for (const auto& preset : presets) {
        for (const auto& field : compressorParamFields) {
            if (!field.range.contains(preset.params.*field.member)) {
                std::abort();
            }
        }
    }
    std::string encoded;
    try {
        encoded = encodeSavedPresets(presets);
    } catch (const PresetCodingError&) {
        return 0; // a name that is not UTF-8: refused on the way out, as intended
    }
    if (decodeSavedPresets(encoded) != presets) {
        std::abort();
    }
    return 0;
}
