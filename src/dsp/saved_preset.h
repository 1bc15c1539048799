#pragma once

#include "base/uuid.h"
#include "dsp/compressor_params.h"

#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quellora {

// A preset the user saved under a name.
struct SavedPreset {
    Uuid id;
    std::string name;
    CompressorParams params;

    friend bool operator==(const SavedPreset&, const SavedPreset&) = default;
};

class PresetCodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The stored form: one JSON array of {"id", "name", "params"} records, the
// id as upper-case canonical UUID text, params as seven JSON numbers.
// Throws PresetCodingError for a parameter that is not finite.
std::string encodeSavedPresets(std::span<const SavedPreset> presets);

// Strict: every key must be present with the right type (other keys are
// ignored), and one bad record fails the whole array. Throws
// PresetCodingError saying what is wrong. Parameters come back clamped into
// their ranges.
std::vector<SavedPreset> decodeSavedPresets(std::string_view json);

} // namespace quellora
