#include "cli/sound_file_reader.h"

#include "cli/command_error.h"

#include <fmt/format.h>

namespace quellora {

SoundFileReader::SoundFileReader(const std::filesystem::path& path)
    : displayName(path.string()) {
    SF_INFO sfInfo{};
    file = sf_open(path.c_str(), SFM_READ, &sfInfo);
    if (file == nullptr) {
        throw CommandError::badInput(
            fmt::format("cannot read \"{}\": {}", displayName, sf_strerror(nullptr)));
    }
    info_ = {sfInfo.format, sfInfo.channels, sfInfo.samplerate, sfInfo.frames};
}

SoundFileReader::~SoundFileReader() {
    sf_close(file);
}

std::int64_t SoundFileReader::read(float* frames, std::int64_t frameCount) {
    const auto got = sf_readf_float(file, frames, frameCount);
    if (got < frameCount && sf_error(file) != SF_ERR_NO_ERROR) {
        throw CommandError::badInput(
            fmt::format("cannot decode \"{}\": {}", displayName, sf_strerror(file)));
    }
    return got;
}

} // namespace quellora
