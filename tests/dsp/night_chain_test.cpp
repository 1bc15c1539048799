// The Night chain's stages with physical signals: the leveller on speech,
// music and sudden loud passages; the limiter on signals whose true peak
// lies between the samples; the chain's delay, its Standard form and the
// switch between the two.

#include "dsp/loudness_meter.h"
#include "dsp/processing_chain.h"
#include "support/test_signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <tuple>
#include <vector>

namespace quellora::testing {
namespace {

constexpr float rate = 48000.0f;
constexpr std::int64_t blockFrames = 480; // 10 ms

std::int64_t framesOf(double seconds) {
    return static_cast<std::int64_t>(seconds * static_cast<double>(rate));
}

double integratedLufs(const std::vector<float>& stereo) {
    LoudnessMeter meter(2, static_cast<int>(rate));
    meter.add(stereo.data(), static_cast<std::int64_t>(stereo.size() / 2));
    return meter.measurement().integratedLufs;
}

double truePeakDbtp(const std::vector<float>& stereo) {
    LoudnessMeter meter(2, static_cast<int>(rate));
    meter.add(stereo.data(), static_cast<std::int64_t>(stereo.size() / 2));
    return meter.measurement().truePeakDbtp;
}

float samplePeak(const std::vector<float>& samples) {
    float peak = 0.0f;
    for (const float sample : samples) {
        peak = std::max(peak, std::fabs(sample));
    }
    return peak;
}

std::vector<float> concatenated(std::vector<float> first, const std::vector<float>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

class NightLevellerTest : public ::testing::Test {
protected:
    // Runs `stereo` through the leveller in 10 ms blocks, in place, and
    // returns the gain after each block.
    std::vector<float> level(std::vector<float>& stereo) {
        std::vector<float> gains;
        const auto frames = static_cast<std::int64_t>(stereo.size() / 2);
        for (std::int64_t at = 0; at < frames; at += blockFrames) {
            leveller.process(stereo.data() + at * 2, std::min(blockFrames, frames - at), 2,
                             ChannelLayout::stereo(), ProgrammeLeveller::Aim::speechFirst(), 0.0f);
            gains.push_back(leveller.gainDb());
        }
        return gains;
    }
    static std::size_t blockAt(double seconds) { return static_cast<std::size_t>(seconds * 100.0); }
    // The most the gain moved from one 10 ms block to the next, dB.
    static float largestStep(const std::vector<float>& gains) {
        float largest = 0.0f;
        for (std::size_t block = 1; block < gains.size(); ++block) {
            largest = std::max(largest, std::fabs(gains[block] - gains[block - 1]));
        }
        return largest;
    }

    ProgrammeLeveller leveller;
};

TEST_F(NightLevellerTest, LiftsQuietSpeechTowardTheTargetWithoutJumping) {
    auto speech = speechLike(framesOf(20.0), rate, -33.0f);
    const double before = integratedLufs(speech);
    const auto gains = level(speech);

    EXPECT_TRUE(leveller.hearsSpeech());
    for (std::size_t i = 10; i < gains.size(); ++i) {
        ASSERT_LE(gains[i] - gains[i - 10], 4.5f) << "more than 40 dB/s at block " << i;
    }
    // Still on its way after half a second, there after ten.
    EXPECT_LT(gains[blockAt(0.5)], 6.0f);
    EXPECT_GT(gains.back(), 8.0f);
    const std::vector<float> settled(speech.end() - framesOf(8.0) * 2, speech.end());
    EXPECT_GT(integratedLufs(settled), before + 8.0);
    EXPECT_NEAR(integratedLufs(settled), ProgrammeLeveller::Aim::speechFirst().speechLufs, 3.0);
}

TEST_F(NightLevellerTest, HoldsSteadyDenseMusicStill) {
    auto music = denseMusicLike(framesOf(20.0), rate, -16.0f);
    const auto gains = level(music);

    EXPECT_FALSE(leveller.hearsSpeech());
    const auto [low, high] =
        std::minmax_element(gains.begin() + static_cast<long>(blockAt(2.5)), gains.end());
    EXPECT_LE(*high - *low, 0.5f) << "the gain pumps on steady music";
    // Loud music goes down toward the level set for everything but speech.
    EXPECT_LT(gains.back(), -2.0f);
}

// Speech has most of its energy in its first formants, around 1 kHz: a
// tone there is all voice band, tones two octaves away hardly any.
TEST_F(NightLevellerTest, HearsTheVoiceBandAroundOneKilohertz) {
    for (const auto& [hz, least, most] :
         {std::tuple{1000.0f, 0.9f, 1.0f}, std::tuple{250.0f, 0.0f, 0.3f},
          std::tuple{4000.0f, 0.0f, 0.3f}}) {
        auto tone = sineTone(framesOf(1.0), 2, 0.1f, hz, rate);
        leveller.reset();
        level(tone);
        EXPECT_GE(leveller.voiceBandShare(), least) << hz << " Hz";
        EXPECT_LE(leveller.voiceBandShare(), most) << hz << " Hz";
    }
}

TEST_F(NightLevellerTest, PullsASuddenLoudPassageDownWithinASecond) {
    auto programme = concatenated(speechLike(framesOf(8.0), rate, -36.0f),
                                  denseMusicLike(framesOf(4.0), rate, -8.0f));
    const auto gains = level(programme);

    const float lifted = gains[blockAt(7.9)];
    EXPECT_GT(lifted, 6.0f);
    EXPECT_LT(gains[blockAt(9.0)], lifted - 12.0f);
}

TEST_F(NightLevellerTest, DoesNotLiftRoomToneFarBetweenLines) {
    auto tone = stereoNoise(framesOf(10.0), decibelsToAmplitude(-50.0f));
    const auto gains = level(tone);

    EXPECT_FALSE(leveller.hearsSpeech());
    EXPECT_LE(gains.back(), ProgrammeLeveller::Aim::speechFirst().otherMaxBoostDb + 0.01f);
}

TEST_F(NightLevellerTest, NonFiniteSamplesBecomeSilenceAndLeaveTheGainUsable) {
    auto speech = speechLike(framesOf(3.0), rate, -30.0f);
    speech[1000] = std::numeric_limits<float>::quiet_NaN();
    speech[2001] = std::numeric_limits<float>::infinity();
    level(speech);

    EXPECT_EQ(speech[1000], 0.0f);
    EXPECT_EQ(speech[2001], 0.0f);
    EXPECT_TRUE(std::isfinite(leveller.gainDb()));
    EXPECT_TRUE(
        std::all_of(speech.begin(), speech.end(), [](float s) { return std::isfinite(s); }));
}

// The leveller with one target for everything, on synthetic programmes.
class ProgrammeLevellerTest : public ::testing::Test {
protected:
    static constexpr double target = -18.0;

    // Levels `samples` in blocks of `block` frames, in place; the gain
    // after each block, and whether a pause was heard.
    std::vector<float> level(std::vector<float>& samples, int channels = 2,
                             std::vector<bool>* pauses = nullptr,
                             std::int64_t block = blockFrames) {
        std::vector<float> gains;
        const auto frames = static_cast<std::int64_t>(samples.size()) / channels;
        const auto layout = ChannelLayout::conventional(channels);
        for (std::int64_t at = 0; at < frames; at += block) {
            leveller.process(samples.data() + at * channels, std::min(block, frames - at), channels,
                             layout, ProgrammeLeveller::Aim::uniform(static_cast<float>(target)),
                             0.0f);
            gains.push_back(leveller.gainDb());
            if (pauses) {
                pauses->push_back(leveller.inPause());
            }
        }
        return gains;
    }
    static std::size_t blockAt(double seconds) { return static_cast<std::size_t>(seconds * 100.0); }
    // The most the gain moved from one 10 ms block to the next, dB.
    static float largestStep(const std::vector<float>& gains) {
        float largest = 0.0f;
        for (std::size_t block = 1; block < gains.size(); ++block) {
            largest = std::max(largest, std::fabs(gains[block] - gains[block - 1]));
        }
        return largest;
    }
    static double loudness(const std::vector<float>& samples, double from, double to,
                           int channels = 2) {
        LoudnessMeter meter(channels, static_cast<int>(rate));
        meter.add(samples.data() + framesOf(from) * channels, framesOf(to) - framesOf(from));
        return meter.measurement().integratedLufs;
    }

    ProgrammeLeveller leveller;
};

// Room tone before the first programme and in a long pause is not lifted,
// and the programme after a pause is levelled from its own start: a quiet
// one comes up, a loud one is never played with the lift of the last.
TEST_F(ProgrammeLevellerTest, APauseHoldsAndItsHissIsNeverLifted) {
    const auto hiss = stereoNoise(framesOf(8.0), decibelsToAmplitude(-62.0f), 4);
    const std::vector<float> opening(hiss.begin(), hiss.begin() + framesOf(2.0) * 2);
    auto programme = concatenated(
        concatenated(concatenated(opening, speechLike(framesOf(8.0), rate, -34.0f)), hiss),
        denseMusicLike(framesOf(8.0), rate, -10.0f));
    const auto gains = level(programme);

    EXPECT_GT(gains[blockAt(9.9)], 10.0f) << "the quiet speech is lifted";
    EXPECT_LE(largestStep(gains), 2.0f) << "the gain jumps";
    // Nor is the loud music after it, not even for its first block.
    for (std::size_t block = 0; block < gains.size(); ++block) {
        if (block < blockAt(2.0) || block >= blockAt(11.0)) {
            ASSERT_LE(gains[block], 0.01f) << "lifted at block " << block;
        }
    }
    EXPECT_LT(loudness(programme, 18.0, 19.0), target + 4.0) << "the music starts with a blast";
    EXPECT_NEAR(loudness(programme, 21.0, 26.0), target, 1.5);
}

// A quiet programme after a loud one and a pause is a programme, not the
// pause going on: it comes up as it would on its own.
TEST_F(ProgrammeLevellerTest, AQuietProgrammeAfterALoudOneAndAPauseComesUp) {
    auto alone = speechLike(framesOf(10.0), rate, -40.0f);
    auto programme = concatenated(
        concatenated(denseMusicLike(framesOf(6.0), rate, -4.0f),
                     std::vector<float>(static_cast<std::size_t>(framesOf(2.0)) * 2, 0.0f)),
        alone);
    level(programme);
    leveller.reset();
    level(alone);

    EXPECT_GT(loudness(alone, 5.0, 10.0), -30.0);
    EXPECT_NEAR(loudness(programme, 13.0, 18.0), loudness(alone, 5.0, 10.0), 1.0);
}

// 600 ms of quiet is a pause; a shorter gap between two notes is not.
TEST_F(ProgrammeLevellerTest, SixHundredMillisecondsOfQuietAreAPause) {
    const auto silence = [](double seconds) {
        return std::vector<float>(static_cast<std::size_t>(framesOf(seconds)) * 2, 0.0f);
    };
    auto programme = concatenated(
        concatenated(concatenated(denseMusicLike(framesOf(4.0), rate, -24.0f), silence(0.58)),
                     denseMusicLike(framesOf(3.42), rate, -24.0f, 3)),
        silence(1.0));
    std::vector<bool> pauses;
    level(programme, 2, &pauses);

    // The state after each 10 ms block: the second silence starts at 8 s.
    EXPECT_EQ(std::find(pauses.begin(), pauses.end(), true) - pauses.begin(), 859);
    EXPECT_TRUE(pauses.back());
}

// Hosts hand over any number of frames at a time, and a leveller reset
// mid-stream starts afresh: neither changes what comes out.
TEST_F(ProgrammeLevellerTest, HowTheStreamIsCutAndAResetChangeNothing) {
    const auto programme = concatenated(speechLike(framesOf(5.0), rate, -34.0f),
                                        denseMusicLike(framesOf(5.0), rate, -12.0f));
    const auto levelledIn = [&](std::int64_t block) {
        auto output = programme;
        leveller.reset();
        level(output, 2, nullptr, block);
        return output;
    };
    const auto whole = levelledIn(framesOf(10.0));
    for (const std::int64_t block : {37, 480}) {
        const auto cut = levelledIn(block);
        float worst = 0.0f;
        for (std::size_t i = 0; i < cut.size(); ++i) {
            worst = std::max(worst, std::fabs(cut[i] - whole[i]));
        }
        EXPECT_LT(worst, 1e-5f) << block << " frames at a time";
    }
    // Reset in the middle of a block, with all that heard before it.
    const auto fresh = levelledIn(480);
    auto noise = stereoNoise(101, 0.5f, 5);
    level(noise);
    auto afterReset = programme;
    leveller.reset();
    level(afterReset);
    EXPECT_EQ(afterReset, fresh);
}

// A programme straight after a much louder or quieter one is levelled from
// its own start: its first seconds play near where it settles, and the gain
// glides there.
TEST_F(ProgrammeLevellerTest, AProgrammeRightAfterAnotherStartsNearItsLevel) {
    for (const auto& [before, after] : {std::pair{-10.0f, -30.0f}, std::pair{-30.0f, -10.0f}}) {
        auto programme = concatenated(denseMusicLike(framesOf(8.0), rate, before),
                                      denseMusicLike(framesOf(12.0), rate, after, 7));
        leveller.reset();
        const auto gains = level(programme);

        EXPECT_NEAR(loudness(programme, 8.0, 11.0), loudness(programme, 14.0, 20.0), 3.0)
            << before << " then " << after << " dB";
        // (Read once per 20 ms of analysis: the guard's cut shows whole.)
        EXPECT_LE(largestStep(gains), 3.0f) << before << " then " << after << " dB: a jump";
    }
}

// A soft opening (a note, a breath) says little about the programme it
// opens: the start is measured as a meter would, the opening gated out, so
// the loud part does not play louder at first than where it settles.
TEST_F(ProgrammeLevellerTest, ASoftOpeningDoesNotSetTheProgrammesLevel) {
    auto programme = concatenated(denseMusicLike(framesOf(0.6), rate, -44.0f),
                                  denseMusicLike(framesOf(9.4), rate, -12.0f, 5));
    level(programme);

    EXPECT_NEAR(loudness(programme, 1.0, 4.0), loudness(programme, 6.0, 10.0), 0.5);
}

// A programme that swells slowly, never by a jump, is followed.
TEST_F(ProgrammeLevellerTest, AProgrammeThatSwellsSlowlyIsFollowed) {
    auto music = denseMusicLike(framesOf(20.0), rate, -30.0f);
    for (std::size_t i = 0; i < music.size(); ++i) {
        const double seconds = static_cast<double>(i / 2) / static_cast<double>(rate);
        music[i] *=
            decibelsToAmplitude(static_cast<float>(std::clamp(seconds - 4.0, 0.0, 12.0) * 0.5));
    }
    level(music);

    EXPECT_NEAR(loudness(music, 17.0, 20.0), target, 2.0);
}

// A pause between two stretches of the same programme changes nothing:
// the second stretch starts with the first one's gain, and room tone after
// it is a pause again, never lifted.
TEST_F(ProgrammeLevellerTest, TheSameProgrammeAfterAPauseGetsItsGainBack) {
    auto first = speechLike(framesOf(8.0), rate, -30.0f);
    auto programme =
        concatenated(concatenated(concatenated(first, std::vector<float>(framesOf(3.0) * 2, 0.0f)),
                                  speechLike(framesOf(4.0), rate, -30.0f, 8)),
                     stereoNoise(framesOf(3.0), decibelsToAmplitude(-56.0f), 3));
    std::vector<bool> pauses;
    const auto gains = level(programme, 2, &pauses);

    EXPECT_NEAR(gains[blockAt(11.4)], gains[blockAt(7.9)], 1.0f);
    EXPECT_TRUE(pauses.back());
    EXPECT_LE(*std::max_element(gains.begin() + static_cast<long>(blockAt(16.0)), gains.end()),
              0.01f)
        << "room tone lifted";
}

TEST_F(ProgrammeLevellerTest, SteadyMusicKeepsOneGain) {
    auto music = denseMusicLike(framesOf(30.0), rate, -24.0f);
    const auto gains = level(music);

    const auto [low, high] =
        std::minmax_element(gains.begin() + static_cast<long>(blockAt(3.0)), gains.end());
    EXPECT_LE(*high - *low, 1.0f) << "the gain breathes on steady music";
    const auto [settledLow, settledHigh] =
        std::minmax_element(gains.begin() + static_cast<long>(blockAt(6.0)), gains.end());
    EXPECT_LT(*settledHigh - *settledLow, 0.01f) << "once settled, the gain moves";
    EXPECT_NEAR(loudness(music, 3.0, 30.0), target, 1.0);
}

// Steady programmes of every spectrum and level land on the target as a
// loudness meter hears them: the detector weighs low, mid and high sound
// as the meter does, and the gain settles where it aims.
TEST_F(ProgrammeLevellerTest, SteadyProgrammesLandOnTheTargetWhateverTheirSpectrum) {
    struct Case {
        const char* name;
        std::vector<float> samples;
        int channels = 2;
    };
    const auto tone = [](float hz, float db, int channels = 2) {
        return sineTone(framesOf(10.0), channels, decibelsToAmplitude(db), hz, rate);
    };
    Case cases[] = {
        {"low tone", tone(80.0f, -24.0f)},
        {"voice-band tone", tone(1000.0f, -12.0f)},
        {"bright tone", tone(9000.0f, -30.0f)},
        {"white noise", stereoNoise(framesOf(10.0), decibelsToAmplitude(-26.0f), 9)},
        {"music", denseMusicLike(framesOf(10.0), rate, -8.0f)},
        {"mono tone", tone(440.0f, -24.0f, 1), 1},
    };
    for (auto& c : cases) {
        leveller.reset();
        level(c.samples, c.channels);
        EXPECT_NEAR(loudness(c.samples, 8.0, 10.0, c.channels), target, 0.3) << c.name;
    }
}

// Speech, gaps between words and all, lands on the target as the meter
// hears it, alone or right after much louder music.
TEST_F(ProgrammeLevellerTest, SpeechLandsOnTheTargetAsTheMeterHearsIt) {
    auto alone = speechLike(framesOf(20.0), rate, -32.0f);
    level(alone);
    EXPECT_NEAR(loudness(alone, 6.0, 20.0), target, 1.0) << "alone";

    auto afterMusic = concatenated(denseMusicLike(framesOf(10.0), rate, -10.0f),
                                   speechLike(framesOf(20.0), rate, -32.0f, 5));
    leveller.reset();
    level(afterMusic);
    EXPECT_NEAR(loudness(afterMusic, 16.0, 30.0), target, 1.0) << "after music";
}

// 5.1 with the dialogue in the centre is levelled as its stereo downmix,
// every channel by the same gain.
TEST_F(ProgrammeLevellerTest, SurroundGetsOneGainForEveryChannel) {
    const auto speech = speechLike(framesOf(10.0), rate, -32.0f);
    std::vector<float> surround(static_cast<std::size_t>(framesOf(10.0)) * 6, 0.0f);
    for (std::size_t i = 0; i < surround.size() / 6; ++i) {
        surround[6 * i + 2] = speech[2 * i];
        surround[6 * i + 3] = 0.5f * speech[2 * i]; // the bass channel never drives the gain
        surround[6 * i + 4] = surround[6 * i + 5] = 0.1f * speech[2 * i];
    }
    const auto input = surround;
    level(surround, 6);

    const auto at = static_cast<std::size_t>(framesOf(9.0)) * 6;
    for (std::size_t i = at; i < at + 480 * 6; i += 6) {
        if (std::fabs(input[i + 2]) > 1e-3f) {
            const float centre = surround[i + 2] / input[i + 2];
            for (const int channel : {3, 4, 5}) {
                ASSERT_NEAR(surround[i + channel] / input[i + channel], centre, 1e-3f * centre);
            }
        }
    }
    std::vector<float> stereo(speech.size());
    for (std::size_t i = 0; i < speech.size() / 2; ++i) {
        stereo[2 * i] = stereo[2 * i + 1] = surround[6 * i + 2] * 0.70710678f;
    }
    EXPECT_NEAR(loudness(stereo, 3.0, 10.0) + 3.0, target, 2.0);
}

// Sound in one front channel or the centre alone is as loud to the leveller
// as to the meter.
TEST_F(ProgrammeLevellerTest, SurroundLandsOnTheTargetWhicheverChannelPlays) {
    const auto music = denseMusicLike(framesOf(10.0), rate, -30.0f);
    for (const std::size_t channel : {0u, 2u}) {
        std::vector<float> surround(static_cast<std::size_t>(framesOf(10.0)) * 6, 0.0f);
        for (std::size_t i = 0; i < surround.size() / 6; ++i) {
            surround[6 * i + channel] = music[2 * i];
        }
        leveller.reset();
        level(surround, 6);
        EXPECT_NEAR(loudness(surround, 8.0, 10.0, 6), target, 0.5) << "channel " << channel;
    }
}

// Signals whose reconstructed waveform peaks between the samples.
struct TortureSignal {
    const char* name;
    std::vector<float> (*make)();
};

std::vector<float> quarterRateSineAt45Degrees() {
    // Every sample at +-0.999, the waveform between them at +3 dBTP.
    std::vector<float> samples(static_cast<std::size_t>(framesOf(1.0) * 2));
    for (std::size_t i = 0; i < samples.size() / 2; ++i) {
        const double phase = std::numbers::pi * (static_cast<double>(i) / 2.0 + 0.25);
        const auto value = static_cast<float>(0.999 * std::sin(phase) * std::sqrt(2.0));
        samples[2 * i] = samples[2 * i + 1] = std::clamp(value, -0.999f, 0.999f);
    }
    return samples;
}

std::vector<float> clippedLoudNoise() {
    auto samples = stereoNoise(framesOf(1.0), 4.0f, 11);
    for (auto& sample : samples) {
        sample = std::clamp(sample, -0.999f, 0.999f);
    }
    return samples;
}

std::vector<float> fullScaleHighTone() {
    return sineTone(framesOf(1.0), 2, 0.999f, 11025.0f * 0.97f, rate);
}

std::vector<float> alternatingPairs() {
    // + + - - at full scale: a square wave at a quarter of the rate.
    std::vector<float> samples(static_cast<std::size_t>(framesOf(1.0) * 2));
    for (std::size_t i = 0; i < samples.size() / 2; ++i) {
        samples[2 * i] = samples[2 * i + 1] = (i / 2) % 2 == 0 ? 0.999f : -0.999f;
    }
    return samples;
}

std::vector<float> burstsAfterSilence() {
    auto samples = stereoNoise(framesOf(1.0), 0.999f, 5);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if ((i / 2) % 9600 < 7000) {
            samples[i] *= 0.001f;
        }
    }
    return samples;
}

class TruePeakLimiterTest : public ::testing::TestWithParam<TortureSignal> {};

TEST_P(TruePeakLimiterTest, KeepsTheTruePeakBelowTheCeiling) {
    auto samples = GetParam().make();
    ASSERT_GT(truePeakDbtp(samples), -0.1) << "not a torture signal";
    TruePeakLimiter limiter;
    limiter.process(samples.data(), static_cast<std::int64_t>(samples.size() / 2), 2, 2, 0.0f);

    EXPECT_LE(truePeakDbtp(samples), -1.0);
    EXPECT_LT(samplePeak(samples), decibelsToAmplitude(TruePeakLimiter::safetyDbfs));
    // Limiting, not muting: the loud part stays near the ceiling.
    EXPECT_GT(truePeakDbtp(samples), static_cast<double>(TruePeakLimiter::ceilingDbtp) - 1.5);
}

INSTANTIATE_TEST_SUITE_P(Torture, TruePeakLimiterTest,
                         ::testing::Values(TortureSignal{"quarterRateSine",
                                                         quarterRateSineAt45Degrees},
                                           TortureSignal{"clippedNoise", clippedLoudNoise},
                                           TortureSignal{"highTone", fullScaleHighTone},
                                           TortureSignal{"alternatingPairs", alternatingPairs},
                                           TortureSignal{"bursts", burstsAfterSilence}),
                         [](const auto& signal) { return std::string(signal.param.name); });

TEST(TruePeakLimiter, PassesQuietSignalsUnchangedAfterItsDelay) {
    const auto input = stereoNoise(framesOf(0.2), 0.25f, 9);
    auto output = input;
    TruePeakLimiter limiter;
    limiter.process(output.data(), static_cast<std::int64_t>(output.size() / 2), 2, 2, 0.0f);

    const auto delay = static_cast<std::size_t>(limiter.lookaheadSamples());
    EXPECT_EQ(delay, 102u); // 2 ms and the interpolator's half width
    for (std::size_t i = 0; i < input.size() - delay * 2; ++i) {
        ASSERT_EQ(output[i + delay * 2], input[i]) << "sample " << i;
    }
}

// Runs `stereo` through `chain` in blocks, in place.
void runChain(ProcessingChain& chain, std::vector<float>& stereo, std::int64_t block = 256) {
    const auto frames = static_cast<std::int64_t>(stereo.size() / 2);
    for (std::int64_t at = 0; at < frames; at += block) {
        chain.processInterleaved(stereo.data() + at * 2, std::min(block, frames - at), 2);
    }
}

struct LookaheadCase {
    float sampleRate;
    std::int64_t standardFrames;
    std::int64_t nightFrames;
};

class ChainLookaheadTest : public ::testing::TestWithParam<LookaheadCase> {};

TEST_P(ChainLookaheadTest, ReportsTheDelayAQuietImpulseComesOutWith) {
    const auto [sampleRate, standardFrames, nightFrames] = GetParam();
    ProcessingChain chain;
    chain.updateParams(nightCompressorParams(), sampleRate);
    EXPECT_EQ(chain.lookaheadSamples(), standardFrames);
    chain.selectKind(ChainKind::night);
    EXPECT_EQ(chain.lookaheadSamples(), nightFrames);
    chain.reset();

    std::vector<float> impulse(4096 * 2, 0.0f);
    impulse[0] = impulse[1] = 0.01f;
    runChain(chain, impulse);
    const auto at = std::find(impulse.begin(), impulse.end(), 0.01f) - impulse.begin();
    EXPECT_EQ(at / 2, nightFrames);
}

INSTANTIATE_TEST_SUITE_P(Rates, ChainLookaheadTest,
                         ::testing::Values(LookaheadCase{48000.0f, 240, 342},
                                           LookaheadCase{44100.0f, 220, 314},
                                           LookaheadCase{96000.0f, 480, 678}));

// Standard is the compressor alone, bit for bit: as built, and after a
// target was set and cleared again.
TEST(ProcessingChain, StandardIsTheCompressorAloneBitForBit) {
    const auto programme = programmeSignal(72000, rate);
    auto direct = programme;
    AudioCompressor compressor;
    compressor.updateParams(CompressorParams::defaults(), rate);
    const auto frames = static_cast<std::int64_t>(direct.size() / 2);
    for (std::int64_t at = 0; at < frames; at += 500) {
        compressor.processInterleaved(direct.data() + at * 2,
                                      std::min<std::int64_t>(500, frames - at), 2);
    }
    for (const bool targetWasSet : {false, true}) {
        ProcessingChain chain;
        chain.updateParams(CompressorParams::defaults(), rate);
        if (targetWasSet) {
            chain.setProgrammeTarget(-18.0f);
            EXPECT_GT(chain.lookaheadSamples(), 240);
            chain.setProgrammeTarget(std::nullopt);
            chain.reset();
        }
        auto viaChain = programme;
        runChain(chain, viaChain, 500);
        EXPECT_EQ(std::memcmp(viaChain.data(), direct.data(), direct.size() * sizeof(float)), 0)
            << (targetWasSet ? "after a target was cleared" : "as built");
    }
}

// With a target the programme lands on it whatever the compressor does to
// its loudness, lowering or raising it, and what the compressor's makeup
// would add to the hiss of a pause is taken back.
TEST(ProcessingChain, TheTargetHoldsWhateverTheCompressorAndAPauseStaysUnlifted) {
    const auto hiss = stereoNoise(framesOf(6.0), decibelsToAmplitude(-60.0f), 4);
    const auto input = concatenated(denseMusicLike(framesOf(12.0), rate, -30.0f), hiss);
    const auto rmsDb = [](const std::vector<float>& stereo, double from, double to) {
        double sum = 0.0;
        for (auto i = framesOf(from) * 2; i < framesOf(to) * 2; ++i) {
            sum += static_cast<double>(stereo[static_cast<std::size_t>(i)]) *
                   static_cast<double>(stereo[static_cast<std::size_t>(i)]);
        }
        return 10.0 * std::log10(sum / static_cast<double>((framesOf(to) - framesOf(from)) * 2));
    };
    struct Case {
        const char* name;
        CompressorParams params;
    };
    auto heavy = CompressorParams::defaults();
    heavy.threshold = -45.0f;
    heavy.ratio = 8.0f;
    auto none = CompressorParams::defaults();
    none.ratio = 1.0f;
    for (const auto& [name, params] : {Case{"standard", CompressorParams::defaults()},
                                       Case{"heavy", heavy}, Case{"ratio 1", none}}) {
        ProcessingChain chain;
        chain.updateParams(params, rate);
        chain.setProgrammeTarget(-18.0f);
        chain.reset();
        auto output = input;
        runChain(chain, output, 480);
        const auto settled = std::vector<float>(output.begin() + framesOf(8.0) * 2,
                                                output.begin() + framesOf(12.0) * 2);
        EXPECT_NEAR(integratedLufs(settled), -18.0, 1.0) << name;
        EXPECT_LT(rmsDb(output, 14.0, 18.0), rmsDb(input, 14.0, 18.0) + 1.0) << name;
    }
}

TEST(ProcessingChain, BypassedNightIsTheDelayedInput) {
    const auto input = programmeSignal(48000, rate);
    auto output = input;
    ProcessingChain chain;
    chain.selectKind(ChainKind::night);
    chain.updateParams(nightCompressorParams(), rate);
    chain.setBypassed(true);
    chain.reset();
    runChain(chain, output);

    const auto delay = static_cast<std::size_t>(chain.lookaheadSamples()) * 2;
    for (std::size_t i = 0; i + delay < input.size(); ++i) {
        ASSERT_NEAR(output[i + delay], std::clamp(input[i], -1.0f, 1.0f), 1e-6f) << "sample " << i;
    }
}

TEST(ProcessingChain, SwitchingKindsWhilePlayingFadesInsteadOfClicking) {
    auto tone = sineTone(framesOf(1.0), 2, 0.1f, 220.0f, rate);
    ProcessingChain chain;
    chain.updateParams(CompressorParams::defaults(), rate);
    const auto half = tone.size() / 2;
    std::vector<float> first(tone.begin(), tone.begin() + static_cast<long>(half));
    std::vector<float> second(tone.begin() + static_cast<long>(half), tone.end());
    runChain(chain, first);
    chain.selectKind(ChainKind::night);
    chain.updateParams(nightCompressorParams(), rate);
    runChain(chain, second);
    const auto output = concatenated(first, second);

    // A 220 Hz sine at 0.1 moves at most 0.003 a sample; a splice of two
    // different delays would jump by up to 0.2.
    float largestStep = 0.0f;
    for (std::size_t i = 2; i < output.size(); i += 2) {
        largestStep = std::max(largestStep, std::fabs(output[i] - output[i - 2]));
    }
    EXPECT_LT(largestStep, 0.01f);
    // And the Night chain plays afterwards.
    const std::vector<float> tail(output.end() - framesOf(0.2) * 2, output.end());
    EXPECT_GT(samplePeak(tail), 0.05f);
}

} // namespace
} // namespace quellora::testing
