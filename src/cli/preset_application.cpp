#include "cli/preset_application.h"

#include "dsp/compressor_param_fields.h"

namespace quellora {

void applyPresetSelection(AppState& model, const PresetSelection& selection) {
    auto base = CompressorParams::defaults();
    if (selection.savedPreset) {
        model.applyPreset(*selection.savedPreset);
        base = selection.savedPreset->params;
    } else if (selection.chain == ChainKind::night) {
        model.selectNight();
        base = nightCompressorParams();
    } else {
        // Also clears custom values restored from an earlier run, so that
        // only the parameters given now differ from the standard preset.
        model.selectStandard();
    }
    // Given or not, the programme target is what was asked for now.
    model.setEvenOutProgrammes(selection.programmeTarget.has_value());
    if (selection.programmeTarget) {
        model.setProgrammeTarget(*selection.programmeTarget);
    }
    for (std::size_t index = 0; index < compressorParamFields.size(); ++index) {
        const auto member = compressorParamFields[index].member;
        if (selection.params.*member != base.*member) {
            model.setCustomValue(static_cast<CustomParameter>(index), selection.params.*member);
        }
    }
}

} // namespace quellora
