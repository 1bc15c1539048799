// Choosing the encoding asks libsndfile what a container takes; kept apart
// from the container table so that the help texts, which list the
// extensions, do not pull libsndfile into the executable.

#include "cli/command_error.h"
#include "cli/output_format.h"

#include <fmt/format.h>
#include <sndfile.h>

#include <vector>

namespace quellora {
namespace {

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
