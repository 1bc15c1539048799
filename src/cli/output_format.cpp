#include "cli/output_format.h"

#include <fmt/format.h>
#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

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

} // namespace

std::string_view containerName(int container) {
    const auto found =
        std::find_if(containers.begin(), containers.end(),
                     [&](const Container& entry) { return entry.format == container; });
    return found == containers.end() ? "this container" : found->name;
}

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

} // namespace quellora
