#include "cli/output_format.h"

#include "cli/command_error.h"

#include <fmt/format.h>
#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>
#include <vector>

namespace quellora {
namespace {

struct Container {
    std::string_view extension;
    int format;
    std::string_view name;
};

constexpr std::array<Container, 10> containers{{
    {".wav", SF_FORMAT_WAV, "WAV"},
    {".flac", SF_FORMAT_FLAC, "FLAC"},
    {".ogg", SF_FORMAT_OGG, "Ogg"},
    {".oga", SF_FORMAT_OGG, "Ogg"},
    {".aiff", SF_FORMAT_AIFF, "AIFF"},
    {".aif", SF_FORMAT_AIFF, "AIFF"},
    {".caf", SF_FORMAT_CAF, "CAF"},
    {".w64", SF_FORMAT_W64, "W64"},
    {".rf64", SF_FORMAT_RF64, "RF64"},
    {".au", SF_FORMAT_AU, "AU"},
}};

std::string_view containerName(int container) {
    const auto found =
        std::find_if(containers.begin(), containers.end(),
                     [&](const Container& entry) { return entry.format == container; });
    return found == containers.end() ? "this container" : found->name;
}

// Encodings that keep the input's samples unchanged, best first. 8-bit comes
// in two forms and each container takes only one of them.
std::vector<int> faithfulEncodings(int inputEncoding) {
    switch (inputEncoding) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return {SF_FORMAT_PCM_S8, SF_FORMAT_PCM_U8};
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_ALAC_16:
        return {SF_FORMAT_PCM_16};
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_ALAC_20:
    case SF_FORMAT_ALAC_24:
        return {SF_FORMAT_PCM_24};
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_ALAC_32:
        return {SF_FORMAT_PCM_32};
    case SF_FORMAT_DOUBLE:
        return {SF_FORMAT_DOUBLE};
    default:
        // Float itself, and lossy or companded encodings, which decode to
        // more precision than any integer depth would keep.
        return {SF_FORMAT_FLOAT};
    }
}

std::string_view encodingName(int encoding) {
    switch (encoding) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return "8-bit";
    case SF_FORMAT_PCM_16:
        return "16-bit";
    case SF_FORMAT_PCM_24:
        return "24-bit";
    case SF_FORMAT_PCM_32:
        return "32-bit";
    case SF_FORMAT_DOUBLE:
        return "64-bit float";
    default:
        return "32-bit float";
    }
}

bool writable(int format, int channels, int sampleRate) {
    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.samplerate = sampleRate;
    return sf_format_check(&info) == SF_TRUE;
}

} // namespace

std::optional<int> containerForPath(const std::filesystem::path& path) {
    auto extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const auto& entry : containers) {
        if (entry.extension == extension) {
            return entry.format;
        }
    }
    return std::nullopt;
}

std::string knownOutputExtensions() {
    std::string list;
    for (const auto& entry : containers) {
        list += fmt::format("{}{}", list.empty() ? "" : ", ", entry.extension);
    }
    return list;
}

OutputFormat chooseOutputFormat(int container, int inputFormat, int channels, int sampleRate) {
    if (container == SF_FORMAT_OGG) {
        if (writable(SF_FORMAT_OGG | SF_FORMAT_VORBIS, channels, sampleRate)) {
            return {SF_FORMAT_OGG | SF_FORMAT_VORBIS, {}};
        }
    } else {
        const auto wanted = faithfulEncodings(inputFormat & SF_FORMAT_SUBMASK);
        for (const int encoding : wanted) {
            if (writable(container | encoding, channels, sampleRate)) {
                return {container | encoding, {}};
            }
        }
        if (writable(container | SF_FORMAT_PCM_24, channels, sampleRate)) {
            return {container | SF_FORMAT_PCM_24,
                    fmt::format("{} cannot hold {} samples; writing 24-bit",
                                containerName(container), encodingName(wanted.front()))};
        }
    }
    throw CommandError::badInput(fmt::format("{} cannot hold {} channel(s) at {} Hz",
                                             containerName(container), channels, sampleRate));
}

} // namespace quellora
