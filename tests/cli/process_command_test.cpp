#include "cli/demo_clip.h"
#include "cli/process_command.h"
#include "cli_test_files.h"
#include "dsp/audio_compressor.h"
#include "dsp/loudness_meter.h"
#include "dsp/processing_chain.h"
#include "dsp/saved_preset.h"
#include "support/test_signals.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <pwd.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <numbers>
#include <sstream>

namespace quellora::testing {
namespace {

using ::testing::ContainsRegex;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

constexpr int rate = 48000;

// Noise stepping from quiet to loud and back, so that the compressor both
// attacks and releases within the file.
std::vector<float> steppedNoise(std::int64_t frames, int channels) {
    // Enough stereo noise for every channel to have its own.
    const auto noise = stereoNoise((frames * channels + 1) / 2, 1.0f, 7);
    std::vector<float> samples(static_cast<std::size_t>(frames * channels));
    for (std::int64_t frame = 0; frame < frames; ++frame) {
        const float level = frame < frames / 3 ? -40.0f : frame < 2 * frames / 3 ? -6.0f : -30.0f;
        for (int channel = 0; channel < channels; ++channel) {
            samples[static_cast<std::size_t>(frame * channels + channel)] =
                noise[static_cast<std::size_t>(frame * channels + channel)] *
                decibelsToAmplitude(level);
        }
    }
    return samples;
}

// The compressor's own output for `input` in blocks of `blockFrames`, with
// the lookahead flushed by silence in further blocks when aligned; one meter
// sample per block.
struct Reference {
    std::vector<float> samples;
    std::vector<LevelSample> meters;
    std::int64_t lookahead = 0;
};

Reference compressDirectly(std::vector<float> input, int channels, const CompressorParams& params,
                           std::int64_t blockFrames = 512, bool align = true,
                           int sampleRate = rate) {
    AudioCompressor compressor;
    compressor.updateParams(params, static_cast<float>(sampleRate));
    Reference reference{{}, {}, compressor.lookaheadSamples()};
    std::vector<float> flush(static_cast<std::size_t>(reference.lookahead * channels), 0.0f);
    for (auto* part : {&input, align ? &flush : nullptr}) {
        if (part == nullptr) {
            continue;
        }
        const auto frames = static_cast<std::int64_t>(part->size()) / channels;
        for (std::int64_t done = 0; done < frames; done += blockFrames) {
            float* block = part->data() + done * channels;
            const auto count = std::min(blockFrames, frames - done);
            if (channels == 1) {
                compressor.processMono(block, count);
            } else {
                compressor.processInterleaved(block, count, channels);
            }
            reference.meters.push_back(compressor.levelBuffer().recentSamples(1).front());
        }
    }
    reference.samples = input;
    if (align) {
        reference.samples.insert(reference.samples.end(), flush.begin(), flush.end());
        reference.samples.erase(reference.samples.begin(),
                                reference.samples.begin() + reference.lookahead * channels);
    }
    return reference;
}

float maxDifference(const std::vector<float>& a, const std::vector<float>& b) {
    EXPECT_EQ(a.size(), b.size());
    float difference = 0.0f;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        difference = std::max(difference, std::fabs(a[i] - b[i]));
    }
    return difference;
}

class ProcessCommandTest : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return (dir / name).string(); }

    TemporaryDirectory dir;
};

// --- Alignment ----------------------------------------------------------

struct BlockCase {
    int channels;
    std::int64_t blockFrames;
};

class AlignedOutput : public ProcessCommandTest, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(AlignedOutput, IsTheCompressorOutputShiftedBackByTheLookahead) {
    const auto [channels, blockFrames] = GetParam();
    constexpr std::int64_t frames = 30011;
    const auto input = steppedNoise(frames, channels);
    writeAudioFile(path("in.wav"), input, channels, rate, SF_FORMAT_WAV | SF_FORMAT_FLOAT);

    const auto run =
        runProcess({path("in.wav"), path("out.wav"), "--block", std::to_string(blockFrames)});

    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const auto output = readAudioFile(path("out.wav"));
    EXPECT_EQ(output.info.frames, frames);
    // Whatever the block size, the result is that of the usual 512.
    const auto expected = compressDirectly(input, channels, CompressorParams::defaults());
    EXPECT_LE(maxDifference(output.samples, expected.samples), 1e-6f);
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, AlignedOutput,
                         ::testing::Values(BlockCase{1, 512}, BlockCase{2, 1}, BlockCase{1, 7},
                                           BlockCase{2, 8192}, BlockCase{6, 512}, BlockCase{8, 7}),
                         [](const auto& row) {
                             return fmt::format("{}ch_block{}", row.param.channels,
                                                row.param.blockFrames);
                         });

struct ImpulseCase {
    int sampleRate;
    int channels;
    bool align;
};

class ImpulsePosition : public ProcessCommandTest,
                        public ::testing::WithParamInterface<ImpulseCase> {};

TEST_P(ImpulsePosition, MovesByTheLookaheadOnlyWithoutAlignment) {
    const auto [sampleRate, channels, align] = GetParam();
    constexpr std::int64_t frames = 4000;
    constexpr std::int64_t impulseAt = 1000;
    std::vector<float> input(static_cast<std::size_t>(frames * channels), 0.0f);
    for (int channel = 0; channel < channels; ++channel) {
        input[static_cast<std::size_t>(impulseAt * channels + channel)] = 0.5f;
    }
    writeAudioFile(path("in.wav"), input, channels, sampleRate, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    std::vector<std::string> args{path("in.wav"), path("out.wav")};
    if (!align) {
        args.emplace_back("--no-align");
    }

    ASSERT_EQ(runProcess(args).status, 0);

    const auto output = readAudioFile(path("out.wav"));
    ASSERT_EQ(output.info.frames, frames);
    const auto loudest =
        std::max_element(output.samples.begin(), output.samples.end(),
                         [](float a, float b) { return std::fabs(a) < std::fabs(b); });
    const auto lookahead = compressDirectly({}, channels, {}, 512, false, sampleRate).lookahead;
    EXPECT_EQ((loudest - output.samples.begin()) / channels, impulseAt + (align ? 0 : lookahead));
}

INSTANTIATE_TEST_SUITE_P(
    RatesAndLayouts, ImpulsePosition,
    ::testing::Values(ImpulseCase{48000, 1, true}, ImpulseCase{48000, 2, false},
                      ImpulseCase{44100, 2, true}, ImpulseCase{44100, 1, false}),
    [](const auto& row) {
        return fmt::format("{}Hz_{}ch_{}", row.param.sampleRate, row.param.channels,
                           row.param.align ? "aligned" : "unaligned");
    });

// --- Where the parameters come from ----------------------------------------

struct ParameterCase {
    const char* name;
    std::vector<std::string> options;
    CompressorParams expected;
};

class ParameterSource : public ProcessCommandTest,
                        public ::testing::WithParamInterface<ParameterCase> {};

TEST_P(ParameterSource, ReachesTheCompressor) {
    const std::vector<SavedPreset> presets{{*Uuid::parse("9B2F5E0C-3A7D-4C1E-8F60-1D2C3B4A5968"),
                                            "Night",
                                            {-45, 6, 3, 900, 4, 1, 200}},
                                           {*Uuid::parse("0F8E2A44-6B1C-4D3A-9E57-2C4B6D8F1A30"),
                                            "Wild",
                                            {-45, 12, 0, 900, 4, 3, 200}}};
    writeTextFile(path("presets.json"), encodeSavedPresets(presets));
    const auto input = steppedNoise(12000, 2);
    writeAudioFile(path("in.wav"), input, 2, rate, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    std::vector<std::string> args{path("in.wav"), path("out.wav")};
    for (const auto& option : GetParam().options) {
        args.push_back(option == "@presets" ? path("presets.json") : option);
    }

    const auto run = runProcess(args);

    ASSERT_EQ(run.status, 0) << run.err;
    const auto expected = compressDirectly(input, 2, GetParam().expected);
    EXPECT_LE(maxDifference(readAudioFile(path("out.wav")).samples, expected.samples), 1e-6f);
}

INSTANTIATE_TEST_SUITE_P(
    Options, ParameterSource,
    ::testing::Values(
        ParameterCase{"everyOption",
                      {"--threshold", "-40", "--ratio=6", "--attack", "2", "--release=300",
                       "--knee", "6", "--mix", "0.7", "--sc-hpf", "300"},
                      {-40, 6, 2, 300, 6, 0.7f, 300}},
        ParameterCase{"savedPresetWithOverride",
                      {"--preset-file", "@presets", "--preset-name", "Night", "--ratio", "3"},
                      {-45, 3, 3, 900, 4, 1, 200}},
        ParameterCase{"standardPreset", {"--preset", "standard"}, CompressorParams::defaults()},
        ParameterCase{"savedPresetOutOfRangeIsClamped",
                      {"--preset-file", "@presets", "--preset-name", "Wild"},
                      {-45, 8, 1, 900, 4, 1, 200}}),
    [](const auto& row) { return std::string(row.param.name); });

// --- The Night chain -------------------------------------------------------

// Quiet speech, then loud, hard-clipped music: what Night is for. In 5.1
// the speech is in the centre, the music in front, and the surrounds and the
// bass channel carry some of it.
std::vector<float> dialogueThenLoudMusic(int channels) {
    const auto speech = speechLike(10 * rate, rate, -33.0f);
    auto stereo = speech;
    auto loud = denseMusicLike(6 * rate, rate, -9.0f);
    for (auto& sample : loud) {
        sample = std::clamp(sample, -0.999f, 0.999f);
    }
    stereo.insert(stereo.end(), loud.begin(), loud.end());
    if (channels == 2) {
        return stereo;
    }
    const auto frames = stereo.size() / 2;
    std::vector<float> out(frames * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < frames; ++i) {
        const float left = stereo[2 * i];
        const float right = stereo[2 * i + 1];
        if (channels == 1) {
            out[i] = left;
            continue;
        }
        const bool dialogue = i * 2 < speech.size();
        float* frame = out.data() + i * 6;
        frame[0] = dialogue ? 0.0f : left;
        frame[1] = dialogue ? 0.0f : right;
        frame[2] = dialogue ? left : 0.3f * (left + right);
        frame[3] = dialogue ? 0.0f : 0.5f * (left + right);
        frame[4] = 0.3f * left;
        frame[5] = 0.3f * right;
    }
    return out;
}

LoudnessMeasurement measureSeconds(const std::vector<float>& samples, int channels, double from,
                                   double to) {
    LoudnessMeter meter(channels, rate);
    const auto first = static_cast<std::size_t>(from * rate) * static_cast<std::size_t>(channels);
    const auto last = static_cast<std::size_t>(to * rate) * static_cast<std::size_t>(channels);
    meter.add(samples.data() + first, static_cast<std::int64_t>((last - first) / channels));
    return meter.measurement();
}

class NightPreset : public ProcessCommandTest, public ::testing::WithParamInterface<int> {};

TEST_P(NightPreset, LiftsDialogueLowersTheLoudPartAndKeepsTruePeaksBelowMinusOne) {
    const int channels = GetParam();
    const auto input = dialogueThenLoudMusic(channels);
    writeAudioFile(path("in.wav"), input, channels, rate, SF_FORMAT_WAV | SF_FORMAT_FLOAT);

    const auto run = runProcess({path("in.wav"), path("out.wav"), "--preset", "night"});

    ASSERT_EQ(run.status, 0) << run.err;
    const auto output = readAudioFile(path("out.wav")).samples;
    ASSERT_EQ(output.size(), input.size());
    const auto dialogueIn = measureSeconds(input, channels, 5.0, 10.0).integratedLufs;
    const auto dialogueOut = measureSeconds(output, channels, 5.0, 10.0).integratedLufs;
    const auto loudIn = measureSeconds(input, channels, 12.0, 16.0).integratedLufs;
    const auto loudOut = measureSeconds(output, channels, 12.0, 16.0).integratedLufs;
    EXPECT_GT(dialogueOut, dialogueIn + 6.0);
    EXPECT_LT(loudOut, loudIn - 6.0);
    EXPECT_LE(measureSeconds(output, channels, 0.0, 16.0).truePeakDbtp, -1.0);
    EXPECT_TRUE(std::none_of(output.begin(), output.end(),
                             [](float sample) { return std::fabs(sample) >= 1.0f; }));
}

INSTANTIATE_TEST_SUITE_P(Layouts, NightPreset, ::testing::Values(1, 2, 6),
                         [](const auto& row) { return fmt::format("{}ch", row.param); });

// "--target": how far speech and loud music land from the target does not
// depend on what the compressor after the leveller does to the loudness.
TEST_F(ProcessCommandTest, TargetLandsAlikeWhateverTheCompressor) {
    struct Case {
        double targetLufs;
        std::vector<std::string> compressor;
    };
    const std::vector<Case> cases{
        {-18.0, {}}, {-23.0, {"--threshold", "-40", "--ratio", "6"}}, {-14.0, {"--ratio", "1"}}};
    writeAudioFile(path("in.wav"), dialogueThenLoudMusic(2), 2, rate,
                   SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    std::vector<double> speech;
    std::vector<double> music;
    for (const auto& [target, compressor] : cases) {
        std::vector<std::string> args{path("in.wav"), path("out.wav"), "--target",
                                      fmt::format("{}", target)};
        args.insert(args.end(), compressor.begin(), compressor.end());
        const auto run = runProcess(args);
        ASSERT_EQ(run.status, 0) << run.err;
        const auto output = readAudioFile(path("out.wav")).samples;
        speech.push_back(measureSeconds(output, 2, 5.0, 10.0).integratedLufs - target);
        music.push_back(measureSeconds(output, 2, 12.0, 16.0).integratedLufs - target);
        EXPECT_LE(measureSeconds(output, 2, 0.0, 16.0).truePeakDbtp, -1.0) << target;
    }
    for (const auto* offsets : {&speech, &music}) {
        const auto [low, high] = std::minmax_element(offsets->begin(), offsets->end());
        EXPECT_LE(*high - *low, 1.5) << fmt::format("{}", fmt::join(*offsets, " "));
    }
}

// A file's channel map says which channel is the bass: 2.1 with a loud bass
// channel and quiet fronts is not compressed; read as 3.0 without the map,
// the same samples are.
TEST_F(ProcessCommandTest, FollowsTheChannelMapToTheLowFrequencyChannel) {
    constexpr std::int64_t frames = 2 * rate;
    std::vector<float> input(static_cast<std::size_t>(frames * 3));
    for (std::int64_t i = 0; i < frames; ++i) {
        const auto phase = 2.0 * std::numbers::pi * 440.0 * static_cast<double>(i) / rate;
        input[static_cast<std::size_t>(i * 3)] = 0.01f * static_cast<float>(std::sin(phase));
        input[static_cast<std::size_t>(i * 3 + 1)] = 0.01f * static_cast<float>(std::cos(phase));
        input[static_cast<std::size_t>(i * 3 + 2)] = 0.9f * static_cast<float>(std::sin(phase));
    }
    const auto frontGainDb = [&](const std::string& name, const std::vector<int>& map) {
        writeAudioFile(path(name), input, 3, rate, SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, map);
        const auto run = runProcess({path(name), path("out.wav"), "--mix", "1"});
        EXPECT_EQ(run.status, 0) << run.err;
        const auto output = readAudioFile(path("out.wav")).samples;
        double in = 0.0;
        double out = 0.0;
        for (auto i = static_cast<std::size_t>(frames / 2); i < output.size() / 3; ++i) {
            in += static_cast<double>(input[i * 3] * input[i * 3]);
            out += static_cast<double>(output[i * 3] * output[i * 3]);
        }
        return 10.0 * std::log10(out / in);
    };
    const auto twoPointOne =
        frontGainDb("2.1.wav", {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_LFE});
    const auto threeZero =
        frontGainDb("3.0.wav", {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_CENTER});
    // Far below the knee the fronts get the makeup gain only.
    EXPECT_NEAR(twoPointOne, 2.16, 0.05);
    EXPECT_LT(threeZero, -8.0);
}

TEST_F(ProcessCommandTest, NightIsAlignedByItsWholeDelay) {
    constexpr std::int64_t frames = 4000;
    std::vector<float> input(frames * 2, 0.0f);
    input[2000] = input[2001] = 0.01f; // quiet: every stage passes it at unity
    writeAudioFile(path("in.wav"), input, 2, rate, SF_FORMAT_WAV | SF_FORMAT_FLOAT);

    ASSERT_EQ(runProcess({path("in.wav"), path("out.wav"), "--preset=night"}).status, 0);

    const auto output = readAudioFile(path("out.wav")).samples;
    ASSERT_EQ(output.size(), input.size());
    EXPECT_EQ(std::find(output.begin(), output.end(), 0.01f) - output.begin(), 2000);
}

// --- Output format ------------------------------------------------------

struct FormatCase {
    const char* name;
    int inputFormat;
    int sampleRate;
    int channels;
    const char* outputName;
    int expectedFormat;
    bool announced; // a note says the samples change form
};

class OutputFormatRules : public ProcessCommandTest,
                          public ::testing::WithParamInterface<FormatCase> {};

TEST_P(OutputFormatRules, KeepTheInputsSamplesWhereTheContainerAllows) {
    const auto& format = GetParam();
    constexpr std::int64_t frames = 6000;
    writeAudioFile(path("in.in"), sineTone(frames, format.channels, 0.3f, 440.0f, 48000.0f),
                   format.channels, format.sampleRate, format.inputFormat);

    const auto run = runProcess({path("in.in"), path(format.outputName)});

    ASSERT_EQ(run.status, 0) << run.err;
    const auto output = readAudioFile(path(format.outputName));
    EXPECT_EQ(output.info.sndfileFormat & ~SF_FORMAT_ENDMASK, format.expectedFormat);
    EXPECT_EQ(output.info.sampleRate, format.sampleRate);
    EXPECT_EQ(output.info.channels, format.channels);
    if ((format.expectedFormat & SF_FORMAT_SUBMASK) != SF_FORMAT_VORBIS) {
        EXPECT_EQ(output.info.frames, frames);
    }
    EXPECT_EQ(run.out.find("note: ") != std::string::npos, format.announced) << run.out;
}

INSTANTIATE_TEST_SUITE_P(
    Containers, OutputFormatRules,
    ::testing::Values(FormatCase{"pcm16StaysPcm16", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2,
                                 "out.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, false},
                      FormatCase{"floatStaysFloat", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1,
                                 "out.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, false},
                      FormatCase{"floatIntoFlacIs24Bit", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2,
                                 "out.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, true},
                      FormatCase{"flac16IntoAiff", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 22050, 1,
                                 "out.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, false},
                      FormatCase{"eightBitChangesSign", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8000, 1,
                                 "out.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, false},
                      FormatCase{"pcm24IntoCaf", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 96000, 2,
                                 "out.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_24, false},
                      FormatCase{"vorbisBecomesFloat", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 48000, 2,
                                 "out.w64", SF_FORMAT_W64 | SF_FORMAT_FLOAT, false},
                      FormatCase{"oggIsVorbis", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2,
                                 "out.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, false},
                      FormatCase{"extensionInAnyCase", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1,
                                 "OUT.WAV", SF_FORMAT_WAV | SF_FORMAT_PCM_16, false}),
    [](const auto& row) { return std::string(row.param.name); });

// --- Meter log ----------------------------------------------------------

struct MeterCase {
    std::int64_t blockFrames;
    bool align;
};

class MeterLog : public ProcessCommandTest, public ::testing::WithParamInterface<MeterCase> {};

std::vector<float> parseCsvLine(const std::string& line) {
    std::vector<float> values;
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, ',');) {
        float value = 0.0f;
        const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
        EXPECT_TRUE(error == std::errc() && end == field.data() + field.size()) << line;
        values.push_back(value);
    }
    return values;
}

TEST_P(MeterLog, HasOneLineOfThreeReadingsPerCompressorCall) {
    const auto [blockFrames, align] = GetParam();
    constexpr std::int64_t frames = 5000;
    const auto input = steppedNoise(frames, 2);
    writeAudioFile(path("in.wav"), input, 2, rate, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    std::vector<std::string> args{path("in.wav"), path("out.wav"), "--meters=" + path("m.csv"),
                                  "--block", std::to_string(blockFrames)};
    if (!align) {
        args.emplace_back("--no-align");
    }

    ASSERT_EQ(runProcess(args).status, 0);

    const auto reference = compressDirectly(input, 2, {}, blockFrames, align);
    const auto blocks = [&](std::int64_t n) {
        return (n + blockFrames - 1) / blockFrames;
    };
    std::ifstream csv(path("m.csv"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(csv, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(static_cast<std::int64_t>(lines.size()),
              blocks(frames) + (align ? blocks(reference.lookahead) : 0));
    ASSERT_EQ(lines.size(), reference.meters.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto& meter = reference.meters[i];
        EXPECT_THAT(parseCsvLine(lines[i]),
                    ::testing::ElementsAre(meter.inputPeak, meter.outputPeak, meter.gainReduction))
            << "line " << i + 1;
    }
}

INSTANTIATE_TEST_SUITE_P(Blocks, MeterLog,
                         ::testing::Values(MeterCase{512, true}, MeterCase{7, true},
                                           MeterCase{1000, false}),
                         [](const auto& row) {
                             return fmt::format("block{}_{}", row.param.blockFrames,
                                                row.param.align ? "aligned" : "unaligned");
                         });

// --- Loudness report ----------------------------------------------------

struct ReportRow {
    double loudness = 0.0;
    double range = 0.0;
    double truePeak = 0.0;
};

// The numbers of the table row starting with `label`.
ReportRow reportRow(const std::string& report, const std::string& label) {
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string first, loudness, lufs, range, lu, peak;
        if (words >> first >> loudness >> lufs >> range >> lu >> peak && first == label) {
            return {std::strtod(loudness.c_str(), nullptr), std::strtod(range.c_str(), nullptr),
                    std::strtod(peak.c_str(), nullptr)};
        }
    }
    ADD_FAILURE() << "no row \"" << label << "\" in:\n" << report;
    return {};
}

TEST_F(ProcessCommandTest, DemoClipComesOutWithASmallerLoudnessRange) {
    writeDemoClip(path("demo.wav"), 20.0);

    const auto run = runProcess({path("demo.wav"), path("out.wav")});

    ASSERT_EQ(run.status, 0) << run.err;
    const auto input = reportRow(run.out, "input");
    const auto output = reportRow(run.out, "output");
    EXPECT_GT(input.range - output.range, 2.0) << run.out;
    EXPECT_GT(input.range, 5.0) << run.out;
    EXPECT_LT(input.truePeak, 0.0);
}

struct ReportCase {
    const char* name;
    int sampleRate;
    float amplitude;
    bool infiniteSample;
    const char* loudness; // how the input's loudness reads
    const char* note;     // the line under the table; empty for none
};

class LoudnessReport : public ProcessCommandTest,
                       public ::testing::WithParamInterface<ReportCase> {};

TEST_P(LoudnessReport, NeverPrintsPlusInfinityOrNanAndSaysWhatItCannotMeasure) {
    const auto& given = GetParam();
    auto samples = sineTone(4 * given.sampleRate, 2, given.amplitude, 100.0f,
                            static_cast<float>(given.sampleRate));
    if (given.infiniteSample) {
        samples[1000] = std::numeric_limits<float>::infinity();
    }
    writeAudioFile(path("in.wav"), samples, 2, given.sampleRate, SF_FORMAT_WAV | SF_FORMAT_FLOAT);

    const auto run = runProcess({path("in.wav"), path("out.wav")});

    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream lines(run.out);
    std::vector<std::string> table(3);
    for (auto& line : table) {
        std::getline(lines, line);
    }
    std::string note;
    std::getline(lines, note);
    EXPECT_EQ(note, given.note);
    EXPECT_THAT(table[1], ContainsRegex(std::string("^input +") + given.loudness)) << run.out;
    EXPECT_THAT(run.out, Not(ContainsRegex("(^|[^-])inf|nan")));
    for (const auto& line : table) {
        EXPECT_EQ(line.size(), table[0].size()) << run.out;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Signals, LoudnessReport,
    ::testing::Values(
        ReportCase{"silence", rate, 0.0f, false, "-inf LUFS", ""},
        ReportCase{"loudAtOneKilohertz", 1000, 0.708f, false, "n/a ",
                   "Loudness and range are not measurable at 1000 Hz: their weighting needs a "
                   "sample rate of at least 3364 Hz."},
        ReportCase{"infiniteSample", rate, 0.5f, true, "n/a ",
                   "n/a: not measurable, the audio holds samples that are not finite numbers."}),
    [](const auto& row) { return std::string(row.param.name); });

// --- Progress, interruption, write failures ---------------------------------

// A terminal stand-in that sends SIGINT to the process the first time
// anything is drawn on it, that is, while the job runs.
class InterruptingBuffer : public std::stringbuf {
protected:
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        if (!raised) {
            raised = true;
            std::raise(SIGINT);
        }
        return std::stringbuf::xsputn(text, count);
    }

private:
    bool raised = false;
};

class LongRecording : public ProcessCommandTest {
protected:
    void SetUp() override {
        // Long enough to earn a progress display, at a rate that keeps it small.
        writeAudioFile(path("in.wav"), sineTone(121 * 8000, 1, 0.3f, 440.0f, 8000.0f), 1, 8000,
                       SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        writeTextFile(path("out.wav"), "earlier output");
    }
};

TEST_F(LongRecording, DrawsProgressOnATerminalAndWipesIt) {
    std::ostringstream out;
    std::ostringstream err;

    ASSERT_EQ(runProcessCommand({path("in.wav"), path("out.wav")}, {out, err, true}), 0);

    EXPECT_THAT(err.str(), StartsWith("\rProcessing\u2026 0%"));
    EXPECT_THAT(err.str(), HasSubstr("\rProcessing\u2026 100%"));
    EXPECT_THAT(err.str(), EndsWith("\r"));
}

TEST_F(LongRecording, DrawsNoProgressWhenStderrIsNoTerminal) {
    const auto run = runProcess({path("in.wav"), path("out.wav")});

    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
}

void testInterruptHandler(int) {}

TEST_F(LongRecording, InterruptionStopsCleanlyAndRestoresTheSignalHandler) {
    // A handler of our own, so that a guard that forgets to restore cannot
    // pass by leaving behind what an earlier run left.
    const auto previous = std::signal(SIGINT, testInterruptHandler);
    const auto files = dir.snapshot();
    InterruptingBuffer terminal;
    std::ostream err(&terminal);
    std::ostringstream out;

    const int status = runProcessCommand(
        {path("in.wav"), path("out.wav"), "--meters", path("m.csv")}, {out, err, true});

    EXPECT_EQ(status, 130);
    EXPECT_THAT(terminal.str(), EndsWith("quellora process: interrupted\n"));
    EXPECT_EQ(dir.snapshot(), files);
    EXPECT_EQ(std::signal(SIGINT, previous), testInterruptHandler);
}

TEST_F(ProcessCommandTest, WriteFailureExitsOneAndLeavesNoTrace) {
    writeAudioFile(path("in.wav"), stereoNoise(2 * rate, 0.5f), 2, rate,
                   SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    writeTextFile(path("out.wav"), "earlier output");
    const auto files = dir.snapshot();
    // A file size limit stands in for a full disk.
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit small{256 * 1024, limit.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);

    const auto run = runProcess({path("in.wav"), path("out.wav"), "--meters", path("m.csv")});

    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, StartsWith("quellora process: cannot write"));
    EXPECT_EQ(dir.snapshot(), files);
}

// Whoever can plant a link or hand over a set-user-ID file must not get a
// privileged file out of the output.
TEST_F(ProcessCommandTest, OutputsNeverCarrySpecialBitsNorFollowOtherUsersLinks) {
    writeAudioFile(path("in.wav"), stereoNoise(rate / 10, 0.5f), 2, rate,
                   SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    writeTextFile(path("target.wav"), "earlier output");
    std::filesystem::permissions(path("target.wav"), static_cast<std::filesystem::perms>(06755));
    std::filesystem::create_symlink(path("target.wav"), path("link.wav"));
    const auto mode = [&](const std::string& name) {
        struct stat status {};
        ::lstat(path(name).c_str(), &status);
        return status.st_mode & 07777;
    };

    ASSERT_EQ(runProcess({path("in.wav"), path("link.wav")}).status, 0);
    EXPECT_EQ(mode("target.wav"), 0755u);
    EXPECT_TRUE(std::filesystem::is_symlink(path("link.wav")));
    const auto previousMask = ::umask(027);
    ASSERT_EQ(runProcess({path("in.wav"), path("new.wav")}).status, 0);
    ::umask(previousMask);
    EXPECT_EQ(mode("new.wav"), 0640u);

    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to make files of another user";
    }
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    std::filesystem::create_symlink(path("new.wav"), path("planted.wav"));
    ASSERT_EQ(::lchown(path("planted.wav").c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    ASSERT_EQ(::chown(path("target.wav").c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    const auto files = dir.snapshot();
    for (const auto* link : {"planted.wav", "link.wav"}) {
        const auto run = runProcess({path("in.wav"), path(link)});
        EXPECT_EQ(run.status, 2) << link;
        EXPECT_THAT(run.err, HasSubstr("not writing through it")) << link;
    }
    EXPECT_EQ(dir.snapshot(), files);
}

} // namespace
} // namespace quellora::testing
