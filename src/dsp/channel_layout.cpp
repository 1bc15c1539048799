#include "dsp/channel_layout.h"

#include <algorithm>

namespace quellora {

ChannelSide sideOf(SpeakerPosition position) {
    using enum SpeakerPosition;
    switch (position) {
    case frontLeft:
    case rearLeft:
    case sideLeft:
    case frontLeftOfCentre:
    case topFrontLeft:
    case topRearLeft:
        return ChannelSide::left;
    case frontRight:
    case rearRight:
    case sideRight:
    case frontRightOfCentre:
    case topFrontRight:
    case topRearRight:
        return ChannelSide::right;
    case lowFrequency:
        return ChannelSide::lowFrequency;
    default:
        return ChannelSide::centre;
    }
}

ChannelLayout ChannelLayout::mono() {
    return {1, {SpeakerPosition::mono}};
}

ChannelLayout ChannelLayout::stereo() {
    return {};
}

ChannelLayout ChannelLayout::conventional(int count) {
    using enum SpeakerPosition;
    switch (std::clamp(count, 1, maxChannels)) {
    case 1:
        return ChannelLayout::mono();
    case 2:
        return ChannelLayout::stereo();
    case 3:
        return {3, {frontLeft, frontRight, frontCentre}};
    case 4:
        return {4, {frontLeft, frontRight, rearLeft, rearRight}};
    case 5:
        return {5, {frontLeft, frontRight, frontCentre, rearLeft, rearRight}};
    case 6:
        return {6, {frontLeft, frontRight, frontCentre, lowFrequency, rearLeft, rearRight}};
    case 7:
        return {
            7, {frontLeft, frontRight, frontCentre, lowFrequency, rearCentre, sideLeft, sideRight}};
    default:
        return {8,
                {frontLeft, frontRight, frontCentre, lowFrequency, rearLeft, rearRight, sideLeft,
                 sideRight}};
    }
}

std::uint32_t ChannelLayout::detectorMask() const {
    const auto used = std::clamp(count, 0, maxChannels);
    const std::uint32_t all = (1u << used) - 1u;
    std::uint32_t mask = 0;
    for (int c = 0; c < used; ++c) {
        if (positions[static_cast<std::size_t>(c)] != SpeakerPosition::lowFrequency) {
            mask |= 1u << c;
        }
    }
    return mask != 0 ? mask : all;
}

double ChannelLayout::loudnessWeight(int channel) const {
    using enum SpeakerPosition;
    const auto begin = positions.begin();
    const auto end = begin + std::clamp(count, 0, maxChannels);
    const bool hasSidePair = std::find(begin, end, sideLeft) != end;
    switch (positions[static_cast<std::size_t>(channel)]) {
    case lowFrequency:
        return 0.0;
    case sideLeft:
    case sideRight:
        return 1.41;
    case rearLeft:
    case rearRight:
        // In 5.1 the rear pair is the surround pair; 7.1 puts it behind.
        return hasSidePair ? 1.0 : 1.41;
    default:
        return 1.0;
    }
}

bool operator==(const ChannelLayout& a, const ChannelLayout& b) {
    const auto used = std::clamp(a.count, 0, ChannelLayout::maxChannels);
    return a.count == b.count &&
           std::equal(a.positions.begin(), a.positions.begin() + used, b.positions.begin());
}

} // namespace quellora
