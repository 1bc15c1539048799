#pragma once

#include <array>
#include <cstdint>

namespace quellora {

// Where a channel is meant to be heard. Named after the speakers of the
// usual layouts, from mono to 7.1; `unknown` stands for a channel nothing
// says anything about (an auxiliary output).
enum class SpeakerPosition : std::uint8_t {
    unknown,
    mono,
    frontLeft,
    frontRight,
    frontCentre,
    lowFrequency, // the subwoofer feed of a film mix
    rearLeft,
    rearRight,
    sideLeft,
    sideRight,
    frontLeftOfCentre,
    frontRightOfCentre,
    rearCentre,
    topCentre,
    topFrontLeft,
    topFrontCentre,
    topFrontRight,
    topRearLeft,
    topRearCentre,
    topRearRight,
};

// The side a listener hears a channel on, as far as levelling goes.
enum class ChannelSide : std::uint8_t { left, right, centre, lowFrequency };

ChannelSide sideOf(SpeakerPosition position);

// The channels of interleaved frames, in order: mono, stereo and the
// surround layouts up to 7.1.
struct ChannelLayout {
    static constexpr int maxChannels = 8;

    int count = 2;
    std::array<SpeakerPosition, maxChannels> positions{SpeakerPosition::frontLeft,
                                                       SpeakerPosition::frontRight};

    static ChannelLayout mono();
    static ChannelLayout stereo();
    // The order files and players use for `count` channels when nothing
    // says otherwise: FL FR FC LFE, then the rear pair, then the side pair
    // (3 is FL FR FC, 4 the quad FL FR RL RR, 5 and 6 are 5.0 and 5.1, 7 is
    // 6.1 and 8 is 7.1). Counts are limited to 1...maxChannels.
    static ChannelLayout conventional(int count);

    // Channels (bit c for channel c) whose level drives a detector: every
    // one but the low-frequency effects, which would let the bass of a film
    // set the gain of its dialogue; all of them when nothing else is left.
    std::uint32_t detectorMask() const;
    // How much a channel counts toward loudness (ITU-R BS.1770): 0 for the
    // low-frequency effects, 1.41 for surrounds beside the listener (the
    // rear pair of 5.1 and the side pair of 7.1), 1 for the others.
    double loudnessWeight(int channel) const;

    friend bool operator==(const ChannelLayout& a, const ChannelLayout& b);
};

} // namespace quellora
