// Measures what the Standard and Night chains do to film- and TV-like clips:
// the dialogue-to-action gap, dialogue loudness, true peak, samples at full
// scale and, on music-only clips, how much the gain wobbles. Both run
// through the offline processor, the code behind `quellora process`.
//
//   quellora-night-eval                  the built-in clip set (needs espeak-ng)
//   quellora-night-eval --write DIR      ... and writes it as DIR/NAME.wav + NAME.labels
//   quellora-night-eval A.wav B.wav ...  other clips, each with its .labels beside it
//   quellora-night-eval --gain DB ...    every clip played that much louder or quieter
//   quellora-night-eval --playlists SET  programmes one after another (SET: tuning or
//                                        held-out; see playlist.h for the packages),
//                                        through Standard, Night and "Even out
//                                        programmes" at -18 LUFS

#include "cli/offline_processor.h"
#include "dsp/loudness_meter.h"
#include "night/clip_set.h"
#include "night/playlist.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <map>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace quellora;
using namespace quellora::night;

constexpr int stepsPerShortTerm = 30;
constexpr int stepsPerMomentary = 4;
constexpr double absoluteGateLufs = -70.0;

double loudnessOf(double meanSquare) {
    return -0.691 + 10.0 * std::log10(std::max(meanSquare, 1e-20));
}

std::vector<double> processed(const Clip& clip, ChainKind kind,
                              std::optional<float> programmeTarget = std::nullopt) {
    const auto params =
        kind == ChainKind::night ? nightCompressorParams() : CompressorParams::defaults();
    OfflineProcessor processor({params, kind, static_cast<float>(clip.sampleRate),
                                ChannelLayout::stereo(), 512, true, false, programmeTarget});
    auto samples = clip.stereo;
    std::vector<double> out;
    out.reserve(samples.size());
    const auto keep = [&](std::span<const float> part) {
        out.insert(out.end(), part.begin(), part.end());
    };
    keep(processor.process(samples.data(), static_cast<std::int64_t>(samples.size() / 2)));
    keep(processor.finish());
    return out;
}

struct Measured {
    std::vector<double> steps; // mean squares per 100 ms
    double truePeakDbtp = 0.0;
    std::int64_t fullScaleSamples = 0;
};

Measured measure(const std::vector<float>& stereo, int sampleRate) {
    LoudnessMeter meter(2, sampleRate);
    meter.add(stereo.data(), static_cast<std::int64_t>(stereo.size() / 2));
    Measured result{meter.stepMeanSquares(), meter.measurement().truePeakDbtp, 0};
    result.fullScaleSamples =
        std::count_if(stereo.begin(), stereo.end(), [](float s) { return std::fabs(s) >= 1.0f; });
    return result;
}

// Short-term loudness of every 3 s window lying inside a segment of `kind`
// (or, for a segment shorter than that, of the windows centred in it), gated.
std::vector<double> shortTermIn(const Clip& clip, const std::vector<double>& steps,
                                SegmentKind kind) {
    std::vector<double> values;
    for (std::size_t end = stepsPerShortTerm; end <= steps.size(); ++end) {
        const double windowStart = static_cast<double>(end - stepsPerShortTerm) * 0.1;
        const double windowEnd = static_cast<double>(end) * 0.1;
        const bool inside =
            std::any_of(clip.segments.begin(), clip.segments.end(), [&](const Segment& s) {
                if (s.kind != kind) {
                    return false;
                }
                if (s.endSeconds - s.startSeconds >= 3.0) {
                    return windowStart >= s.startSeconds - 1e-6 && windowEnd <= s.endSeconds + 1e-6;
                }
                const double centre = 0.5 * (windowStart + windowEnd);
                return centre >= s.startSeconds && centre <= s.endSeconds;
            });
        if (!inside) {
            continue;
        }
        const double sum =
            std::accumulate(steps.begin() + static_cast<long>(end - stepsPerShortTerm),
                            steps.begin() + static_cast<long>(end), 0.0);
        const double lufs = loudnessOf(sum / stepsPerShortTerm);
        if (lufs > absoluteGateLufs) {
            values.push_back(lufs);
        }
    }
    return values;
}

double median(std::vector<double> values) {
    if (values.empty()) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    std::sort(values.begin(), values.end());
    const auto middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : 0.5 * (values[middle - 1] + values[middle]);
}

// The standard deviation of `values`; NaN with fewer than two.
double standardDeviation(const std::vector<double>& values) {
    if (values.size() < 2) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    const double mean =
        std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
    double sum = 0.0;
    for (const double value : values) {
        sum += (value - mean) * (value - mean);
    }
    return std::sqrt(sum / static_cast<double>(values.size()));
}

// Standard deviation over 400 ms blocks of output minus input momentary loudness.
double gainWobble(const std::vector<double>& in, const std::vector<double>& out) {
    std::vector<double> differences;
    for (std::size_t start = 0; start + stepsPerMomentary <= std::min(in.size(), out.size());
         start += stepsPerMomentary) {
        const auto block = [&](const std::vector<double>& steps) {
            return loudnessOf(
                std::accumulate(steps.begin() + static_cast<long>(start),
                                steps.begin() + static_cast<long>(start + stepsPerMomentary), 0.0) /
                stepsPerMomentary);
        };
        if (block(in) > absoluteGateLufs) {
            differences.push_back(block(out) - block(in));
        }
    }
    return standardDeviation(differences);
}

struct Figures {
    double gapReduction = std::numeric_limits<double>::quiet_NaN();
    double dialogueChange = std::numeric_limits<double>::quiet_NaN();
    double truePeakDbtp = 0.0;
    std::int64_t fullScaleSamples = 0;
    double wobble = std::numeric_limits<double>::quiet_NaN();
};

Figures evaluate(const Clip& clip, const Measured& in, ChainKind kind) {
    const auto output = processed(clip, kind);
    const std::vector<float> outFloat(output.begin(), output.end());
    const auto out = measure(outFloat, clip.sampleRate);
    Figures figures;
    figures.truePeakDbtp = out.truePeakDbtp;
    figures.fullScaleSamples = out.fullScaleSamples;
    const auto gap = [&](const std::vector<double>& steps) {
        return median(shortTermIn(clip, steps, SegmentKind::action)) -
               median(shortTermIn(clip, steps, SegmentKind::dialogue));
    };
    figures.gapReduction = gap(in.steps) - gap(out.steps);
    if (std::getenv("QUELLORA_EVAL_DETAIL") != nullptr && kind == ChainKind::night) {
        ProgrammeLeveller leveller;
        auto copy = clip.stereo;
        const std::int64_t block = clip.sampleRate / 50;
        std::map<std::string, std::pair<int, int>> heard;
        std::map<std::string, double> share;
        for (std::int64_t at = 0; at + block <= static_cast<std::int64_t>(copy.size() / 2);
             at += block) {
            leveller.process(copy.data() + at * 2, block, 2, ChannelLayout::stereo(),
                             ProgrammeLeveller::Aim::speechFirst(), 0.0f);
            const double t = static_cast<double>(at) / clip.sampleRate;
            std::string label = "none";
            for (const auto& s : clip.segments) {
                if (t >= s.startSeconds && t < s.endSeconds) {
                    label = std::string(labelOf(s.kind));
                }
            }
            heard[label].first += leveller.hearsSpeech() ? 1 : 0;
            heard[label].second += 1;
            share[label] += static_cast<double>(leveller.voiceBandShare());
        }
        for (const auto& [label, counts] : heard) {
            std::cerr << fmt::format("  {} speech heard in {}: {:.0f}%, voice band {:.2f}\n",
                                     clip.name, label, 100.0 * counts.first / counts.second,
                                     share[label] / counts.second);
        }
    }
    if (std::getenv("QUELLORA_EVAL_DETAIL") != nullptr) {
        for (const auto segment : {SegmentKind::dialogue, SegmentKind::action, SegmentKind::advert,
                                   SegmentKind::music}) {
            std::cerr << fmt::format("  {} {} {}: in {:.1f} out {:.1f}\n", clip.name,
                                     kind == ChainKind::night ? "night" : "standard",
                                     labelOf(segment), median(shortTermIn(clip, in.steps, segment)),
                                     median(shortTermIn(clip, out.steps, segment)));
        }
    }
    figures.dialogueChange = median(shortTermIn(clip, out.steps, SegmentKind::dialogue)) -
                             median(shortTermIn(clip, in.steps, SegmentKind::dialogue));
    const bool musicOnly =
        std::all_of(clip.segments.begin(), clip.segments.end(),
                    [](const Segment& s) { return s.kind == SegmentKind::music; });
    if (musicOnly && !clip.segments.empty()) {
        figures.wobble = gainWobble(in.steps, out.steps);
    }
    return figures;
}

// What a playlist of programmes measures: how far apart the programmes
// land, how far each one's first 3 s are from the rest of it, how much the
// room tone of long pauses is lifted, and how much the gain moves on a
// steady piece of music.
struct ProgrammeFigures {
    double spread = std::numeric_limits<double>::quiet_NaN();
    double onset = std::numeric_limits<double>::quiet_NaN();
    double lift = std::numeric_limits<double>::quiet_NaN();
    double wobble = std::numeric_limits<double>::quiet_NaN();
    double meanLufs = std::numeric_limits<double>::quiet_NaN(); // of the programmes, settled
    double truePeakDbtp = 0.0;
    std::int64_t fullScaleSamples = 0;
};

std::vector<float> framesBetween(const std::vector<float>& stereo, int sampleRate, double start,
                                 double end) {
    const auto first = std::min(stereo.size(), static_cast<std::size_t>(start * sampleRate) * 2);
    const auto last = std::min(stereo.size(), static_cast<std::size_t>(end * sampleRate) * 2);
    return {stereo.begin() + static_cast<long>(first), stereo.begin() + static_cast<long>(last)};
}

double loudnessBetween(const std::vector<float>& stereo, int sampleRate, double start, double end) {
    const auto part = framesBetween(stereo, sampleRate, start, end);
    LoudnessMeter meter(2, sampleRate);
    meter.add(part.data(), static_cast<std::int64_t>(part.size() / 2));
    return meter.measurement().integratedLufs;
}

double rmsDbBetween(const std::vector<float>& stereo, int sampleRate, double start, double end) {
    const auto part = framesBetween(stereo, sampleRate, start, end);
    double sum = 0.0;
    for (const float sample : part) {
        sum += static_cast<double>(sample) * static_cast<double>(sample);
    }
    return 10.0 * std::log10(std::max(
                      sum / static_cast<double>(std::max<std::size_t>(part.size(), 1)), 1e-20));
}

// Standard deviation of output minus input short-term (3 s) loudness.
double shortTermGainWobble(const std::vector<double>& in, const std::vector<double>& out) {
    std::vector<double> differences;
    for (std::size_t end = stepsPerShortTerm; end <= std::min(in.size(), out.size()); ++end) {
        const auto window = [&](const std::vector<double>& steps) {
            return loudnessOf(
                std::accumulate(steps.begin() + static_cast<long>(end - stepsPerShortTerm),
                                steps.begin() + static_cast<long>(end), 0.0) /
                stepsPerShortTerm);
        };
        if (window(in) > absoluteGateLufs) {
            differences.push_back(window(out) - window(in));
        }
    }
    return standardDeviation(differences);
}

ProgrammeFigures evaluateProgrammes(const Clip& clip, const std::vector<float>& output) {
    const int sr = clip.sampleRate;
    ProgrammeFigures f;
    const auto out = measure(output, sr);
    f.truePeakDbtp = out.truePeakDbtp;
    f.fullScaleSamples = out.fullScaleSamples;
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    double worstOnset = 0.0;
    double worstLift = -std::numeric_limits<double>::infinity();
    double sum = 0.0;
    int programmes = 0;
    for (const auto& s : clip.segments) {
        if (s.kind == SegmentKind::pause) {
            if (s.endSeconds - s.startSeconds >= 5.0) {
                worstLift =
                    std::max(worstLift,
                             rmsDbBetween(output, sr, s.startSeconds + 1.0, s.endSeconds) -
                                 rmsDbBetween(clip.stereo, sr, s.startSeconds + 1.0, s.endSeconds));
            }
            continue;
        }
        const double settled = loudnessBetween(output, sr, s.startSeconds + 3.0, s.endSeconds);
        const double first = loudnessBetween(output, sr, s.startSeconds, s.startSeconds + 3.0);
        low = std::min(low, settled);
        high = std::max(high, settled);
        worstOnset = std::max(worstOnset, std::fabs(first - settled));
        sum += settled;
        ++programmes;
        if (std::getenv("QUELLORA_EVAL_DETAIL") != nullptr) {
            std::cerr << fmt::format(
                "  {} {:>6.1f}-{:>6.1f} {:<10} in {:>6.1f} out {:>6.1f} first 3 s {:>6.1f}\n",
                clip.name, s.startSeconds, s.endSeconds, labelOf(s.kind),
                loudnessBetween(clip.stereo, sr, s.startSeconds + 3.0, s.endSeconds), settled,
                first);
        }
    }
    if (programmes > 1) {
        f.spread = high - low;
    }
    if (programmes > 0) {
        f.onset = worstOnset;
        f.meanLufs = sum / programmes;
    }
    if (std::isfinite(worstLift)) {
        f.lift = worstLift;
    }
    if (programmes == 1 && clip.segments.size() == 1 &&
        clip.segments[0].kind == SegmentKind::music) {
        f.wobble = shortTermGainWobble(measure(clip.stereo, sr).steps, out.steps);
        f.onset = std::numeric_limits<double>::quiet_NaN();
    }
    return f;
}

std::string shown(double value, const char* format = "{:+.1f}");

void printProgrammeTable(PlaylistSet set) {
    const auto clips = generatePlaylists(set);
    std::cout << fmt::format("Playlists, {} set\n", nameOf(set));
    std::cout << fmt::format("{:<18} {:<12} | {:>6} {:>6} {:>6} {:>6} {:>7} {:>7} {:>4}\n", "clip",
                             "chain", "spread", "onset", "lift", "wobble", "level", "TP", "0dB");
    struct Config {
        const char* name;
        ChainKind kind;
        std::optional<float> target;
    };
    const Config configs[] = {{"Standard", ChainKind::standard, std::nullopt},
                              {"Night", ChainKind::night, std::nullopt},
                              {"target -18", ChainKind::standard, -18.0f}};
    for (const auto& clip : clips) {
        const auto in = evaluateProgrammes(clip, clip.stereo);
        std::cout << fmt::format("{:<18} {:<12} | {:>6} {:>6} {:>6} {:>6} {:>7} {:>7.2f} {:>4}\n",
                                 clip.name, "input", shown(in.spread, "{:.1f}"),
                                 shown(in.onset, "{:.1f}"), "", "", shown(in.meanLufs, "{:.1f}"),
                                 in.truePeakDbtp, in.fullScaleSamples);
        for (const auto& config : configs) {
            const auto output = processed(clip, config.kind, config.target);
            const auto f =
                evaluateProgrammes(clip, std::vector<float>(output.begin(), output.end()));
            std::cout << fmt::format(
                "{:<18} {:<12} | {:>6} {:>6} {:>6} {:>6} {:>7} {:>7.2f} {:>4}\n", "", config.name,
                shown(f.spread, "{:.1f}"), shown(f.onset, "{:.1f}"), shown(f.lift, "{:+.1f}"),
                shown(f.wobble, "{:.2f}"), shown(f.meanLufs, "{:.1f}"), f.truePeakDbtp,
                f.fullScaleSamples);
        }
    }
    std::cout << "(spread, onset: LU; lift: dB, pauses of 5 s or more; wobble: LU, steady "
                 "music; level: mean settled programme loudness, LUFS)\n";
}

std::string shown(double value, const char* format) {
    return std::isnan(value) ? std::string("-") : fmt::format(fmt::runtime(format), value);
}

void averageInto(double& sum, int& count, double value) {
    if (!std::isnan(value)) {
        sum += value;
        ++count;
    }
}

} // namespace

int main(int argc, char** argv) {
    try {
        std::vector<Clip> clips;
        std::string writeTo;
        double gainDb = 0.0;
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "--write" && i + 1 < argc) {
                writeTo = argv[++i];
            } else if (arg == "--gain" && i + 1 < argc) {
                gainDb = std::stod(argv[++i]);
            } else if (arg == "--playlists" && i + 1 < argc) {
                const std::string set = argv[++i];
                if (set != "tuning" && set != "held-out") {
                    throw std::runtime_error("--playlists takes tuning or held-out");
                }
                printProgrammeTable(set == "tuning" ? PlaylistSet::tuning : PlaylistSet::heldOut);
                return 0;
            } else {
                clips.push_back(readClip(arg));
            }
        }
        if (clips.empty()) {
            clips = generateClipSet();
        }
        const auto gain = static_cast<float>(std::pow(10.0, gainDb / 20.0));
        for (auto& clip : clips) {
            for (auto& sample : clip.stereo) {
                sample = std::clamp(sample * gain, -0.999f, 0.999f);
            }
        }
        if (!writeTo.empty()) {
            std::filesystem::create_directories(writeTo);
            for (const auto& clip : clips) {
                writeClip(clip, writeTo);
            }
        }

        std::cout << fmt::format(
            "{:<12} {:>8} | {:>6} {:>6} {:>7} {:>4} {:>6} | {:>6} {:>6} {:>7} {:>4} {:>6}\n",
            "clip", "in TP", "gap-", "dlg", "TP", "0dB", "wobble", "gap-", "dlg", "TP", "0dB",
            "wobble");
        std::cout << fmt::format("{:<21} | {:^35} | {:^35}\n", "", "Standard", "Night");
        struct Average {
            double sum[3] = {};
            int count[3] = {};
            double worstPeak = -std::numeric_limits<double>::infinity();
            std::int64_t fullScale = 0;
        };
        Average averages[2];
        for (const auto& clip : clips) {
            const auto in = measure(clip.stereo, clip.sampleRate);
            std::string row = fmt::format("{:<12} {:>8.1f}", clip.name, in.truePeakDbtp);
            int column = 0;
            for (const auto kind : {ChainKind::standard, ChainKind::night}) {
                const auto f = evaluate(clip, in, kind);
                auto& a = averages[column++];
                averageInto(a.sum[0], a.count[0], f.gapReduction);
                averageInto(a.sum[1], a.count[1], f.dialogueChange);
                averageInto(a.sum[2], a.count[2], f.wobble);
                a.worstPeak = std::max(a.worstPeak, f.truePeakDbtp);
                a.fullScale += f.fullScaleSamples;
                row += fmt::format(" | {:>6} {:>6} {:>7.2f} {:>4} {:>6}", shown(f.gapReduction),
                                   shown(f.dialogueChange), f.truePeakDbtp, f.fullScaleSamples,
                                   shown(f.wobble, "{:.2f}"));
            }
            std::cout << row << '\n';
        }
        std::string row = fmt::format("{:<12} {:>8}", "average", "");
        for (const auto& a : averages) {
            const auto mean = [&](int i) {
                return a.count[i] > 0 ? a.sum[i] / a.count[i]
                                      : std::numeric_limits<double>::quiet_NaN();
            };
            row += fmt::format(" | {:>6} {:>6} {:>7.2f} {:>4} {:>6}", shown(mean(0)),
                               shown(mean(1)), a.worstPeak, a.fullScale, shown(mean(2), "{:.2f}"));
        }
        std::cout << row << "\n(TP: worst clip; wobble: music-only clips)\n";
        for (const auto kind : {ChainKind::standard, ChainKind::night}) {
            ProcessingChain chain;
            chain.selectKind(kind);
            chain.updateParams(kind == ChainKind::night ? nightCompressorParams()
                                                        : CompressorParams::defaults(),
                               48000.0f);
            std::cout << fmt::format("{} latency: {} frames = {:.2f} ms at 48 kHz\n",
                                     kind == ChainKind::night ? "Night" : "Standard",
                                     chain.lookaheadSamples(), chain.lookaheadSamples() / 48.0);
        }
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "quellora-night-eval: " << error.what() << '\n';
        return 1;
    }
}
