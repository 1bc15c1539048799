#include "cli/preset_selection.h"

#include "base/file_system.h"
#include "cli/command_error.h"
#include "dsp/saved_preset.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace quellora {
namespace {

// Far more than five saved presets; anything larger is not a preset file.
constexpr std::size_t maxPresetFileBytes = 1024 * 1024;

// Bounded and never blocking: a named pipe or /dev/zero is refused, not read.
std::string readPresetFile(const std::filesystem::path& path) {
    std::optional<std::string> text;
    try {
        text = readFileIfPresent(path, maxPresetFileBytes);
    } catch (const UnusableFileError& error) {
        throw CommandError::badInput(fmt::format("cannot read preset file \"{}\": it is {}",
                                                 path.string(), error.description()));
    } catch (const std::system_error& error) {
        throw CommandError::badInput(fmt::format("cannot read preset file \"{}\": {}",
                                                 path.string(), error.code().message()));
    }
    if (!text) {
        throw CommandError::badInput(fmt::format("cannot read preset file \"{}\": {}",
                                                 path.string(), std::strerror(ENOENT)));
    }
    return std::move(*text);
}

std::string quotedNames(const std::vector<SavedPreset>& presets) {
    std::string names;
    for (const auto& preset : presets) {
        names += fmt::format("{}\"{}\"", names.empty() ? "" : ", ", preset.name);
    }
    return names;
}

SavedPreset readSavedPreset(const SavedPresetChoice& choice) {
    const auto file = choice.file.string();
    std::vector<SavedPreset> presets;
    try {
        presets = decodeSavedPresets(readPresetFile(choice.file));
    } catch (const PresetCodingError& error) {
        throw CommandError::badInput(fmt::format("preset file \"{}\": {}", file, error.what()));
    }
    const auto available = presets.empty()
                               ? fmt::format("\"{}\" holds no presets", file)
                               : fmt::format("\"{}\" holds {}", file, quotedNames(presets));
    if (!choice.name) {
        throw CommandError::badInput(
            fmt::format("--preset-file needs --preset-name; {}", available));
    }
    for (const auto& preset : presets) {
        if (preset.name == *choice.name) {
            return preset;
        }
    }
    throw CommandError::badInput(
        fmt::format("no preset named \"{}\"; {}", *choice.name, available));
}

} // namespace

PresetSelection selectPreset(const PresetOptions& options) {
    PresetSelection selection;
    if (options.savedPreset) {
        selection.savedPreset = readSavedPreset(*options.savedPreset);
    }
    selection.chain = options.builtInPreset.value_or(ChainKind::standard);
    selection.programmeTarget = options.programmeTarget;
    // Options were range-checked as they were parsed, and a decoded preset is
    // clamped into the ranges like everywhere else it is applied.
    selection.params = selection.savedPreset                 ? selection.savedPreset->params
                       : selection.chain == ChainKind::night ? nightCompressorParams()
                                                             : CompressorParams::defaults();
    for (std::size_t index = 0; index < compressorParamFields.size(); ++index) {
        if (const auto& given = options.parameterOverrides[index]) {
            selection.params.*compressorParamFields[index].member = *given;
        }
    }
    return selection;
}

} // namespace quellora
