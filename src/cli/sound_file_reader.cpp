#include "cli/sound_file_reader.h"

#include "cli/command_error.h"

#include <fmt/format.h>

#include <array>

namespace quellora {
namespace {

SpeakerPosition positionOf(int channelMapEntry) {
    using enum SpeakerPosition;
    switch (channelMapEntry) {
    case SF_CHANNEL_MAP_MONO:
        return mono;
    case SF_CHANNEL_MAP_LEFT:
    case SF_CHANNEL_MAP_FRONT_LEFT:
        return frontLeft;
    case SF_CHANNEL_MAP_RIGHT:
    case SF_CHANNEL_MAP_FRONT_RIGHT:
        return frontRight;
    case SF_CHANNEL_MAP_CENTER:
    case SF_CHANNEL_MAP_FRONT_CENTER:
        return frontCentre;
    case SF_CHANNEL_MAP_LFE:
        return lowFrequency;
    case SF_CHANNEL_MAP_REAR_LEFT:
        return rearLeft;
    case SF_CHANNEL_MAP_REAR_RIGHT:
        return rearRight;
    case SF_CHANNEL_MAP_REAR_CENTER:
        return rearCentre;
    case SF_CHANNEL_MAP_SIDE_LEFT:
        return sideLeft;
    case SF_CHANNEL_MAP_SIDE_RIGHT:
        return sideRight;
    case SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER:
        return frontLeftOfCentre;
    case SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER:
        return frontRightOfCentre;
    case SF_CHANNEL_MAP_TOP_CENTER:
        return topCentre;
    case SF_CHANNEL_MAP_TOP_FRONT_LEFT:
        return topFrontLeft;
    case SF_CHANNEL_MAP_TOP_FRONT_CENTER:
        return topFrontCentre;
    case SF_CHANNEL_MAP_TOP_FRONT_RIGHT:
        return topFrontRight;
    case SF_CHANNEL_MAP_TOP_REAR_LEFT:
        return topRearLeft;
    case SF_CHANNEL_MAP_TOP_REAR_CENTER:
        return topRearCentre;
    case SF_CHANNEL_MAP_TOP_REAR_RIGHT:
        return topRearRight;
    default:
        return unknown;
    }
}

ChannelLayout layoutOf(SNDFILE* file, int channels) {
    auto layout = ChannelLayout::conventional(channels);
    std::array<int, ChannelLayout::maxChannels> map{};
    if (channels <= ChannelLayout::maxChannels &&
        sf_command(file, SFC_GET_CHANNEL_MAP_INFO, map.data(),
                   static_cast<int>(sizeof(int)) * channels) == SF_TRUE) {
        for (int c = 0; c < channels; ++c) {
            layout.positions[static_cast<std::size_t>(c)] =
                positionOf(map[static_cast<std::size_t>(c)]);
        }
    }
    return layout;
}

} // namespace

SoundFileReader::SoundFileReader(const std::filesystem::path& path)
    : displayName(path.string()) {
    SF_INFO sfInfo{};
    file = sf_open(path.c_str(), SFM_READ, &sfInfo);
    if (file == nullptr) {
        throw CommandError::badInput(
            fmt::format("cannot read \"{}\": {}", displayName, sf_strerror(nullptr)));
    }
    info_ = {sfInfo.format, sfInfo.channels, sfInfo.samplerate, sfInfo.frames,
             layoutOf(file, sfInfo.channels)};
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
