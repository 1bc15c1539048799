#include "night/playlist.h"

#include "base/random_sequence.h"
#include "cli/sound_file_reader.h"
#include "dsp/loudness_meter.h"

#include <fmt/format.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <stdexcept>

namespace quellora::night {
namespace {

constexpr int rate = 48000;
using Mono = std::vector<double>;

struct Sources {
    std::filesystem::path speechDirectory;
    const char* speechPackage;
    std::string espeakVoice;
    std::vector<std::filesystem::path> music;
    const char* musicPackage;
};

std::size_t framesOf(double seconds) {
    return static_cast<std::size_t>(std::lround(seconds * rate));
}

Mono readMono(const std::filesystem::path& path, double skipSeconds, double seconds) {
    SoundFileReader reader(path);
    const auto& info = reader.info();
    std::vector<float> frames(static_cast<std::size_t>(info.frames * info.channels));
    const auto got = reader.read(frames.data(), info.frames);
    const auto first = std::min<std::int64_t>(got, std::lround(skipSeconds * info.sampleRate));
    const auto count =
        seconds > 0.0 ? std::min<std::int64_t>(got - first, std::lround(seconds * info.sampleRate))
                      : got - first;
    std::vector<float> mono(static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i) {
        float sum = 0.0f;
        for (int c = 0; c < info.channels; ++c) {
            sum += frames[static_cast<std::size_t>((first + i) * info.channels + c)];
        }
        mono[static_cast<std::size_t>(i)] = sum / static_cast<float>(info.channels);
    }
    return info.sampleRate == rate ? Mono(mono.begin(), mono.end())
                                   : resampledTo48k(mono, info.sampleRate);
}

double loudnessOf(const Mono& sound) {
    LoudnessMeter meter(2, rate);
    std::vector<float> stereo(sound.size() * 2);
    for (std::size_t i = 0; i < sound.size(); ++i) {
        stereo[2 * i] = stereo[2 * i + 1] = static_cast<float>(sound[i]);
    }
    meter.add(stereo.data(), static_cast<std::int64_t>(sound.size()));
    return meter.measurement().integratedLufs;
}

Mono atLoudness(Mono sound, double lufs) {
    const double gain = std::pow(10.0, (lufs - loudnessOf(sound)) / 20.0);
    for (auto& sample : sound) {
        sample *= gain;
    }
    return sound;
}

std::vector<std::filesystem::path> filesIn(const std::filesystem::path& directory,
                                           const char* package) {
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(directory)) {
        for (const auto& entry : std::filesystem::directory_iterator(directory)) {
            if (entry.is_regular_file() && entry.file_size() > 40000) {
                files.push_back(entry.path());
            }
        }
    }
    if (files.empty()) {
        throw std::runtime_error(fmt::format("no recordings in {}; the playlists need the "
                                             "package {} (apt install {})",
                                             directory.string(), package, package));
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Prompts one after another with the gaps of someone reading them out.
Mono talk(const Sources& sources, double seconds, RandomSequence& rng) {
    const auto prompts = filesIn(sources.speechDirectory, sources.speechPackage);
    Mono out;
    while (static_cast<double>(out.size()) < seconds * rate) {
        const auto& file = prompts[static_cast<std::size_t>(rng.unit() * prompts.size())];
        const auto prompt = readMono(file, 0.0, 0.0);
        out.insert(out.end(), prompt.begin(), prompt.end());
        out.insert(out.end(), framesOf(rng.between(0.15, 0.5)), 0.0);
    }
    out.resize(framesOf(seconds));
    return out;
}

Mono espeak(const std::string& voice, double seconds) {
    char pattern[] = "/tmp/quellora-playlist-XXXXXX.wav";
    const int fd = ::mkstemps(pattern, 4);
    if (fd < 0) {
        throw std::runtime_error("cannot create a temporary file for speech");
    }
    ::close(fd);
    const std::string path = pattern;
    const auto command = fmt::format(
        "espeak-ng -v '{}' -s 165 -w '{}' \"Good evening. Here is the news. The council met "
        "today to discuss the new bridge over the river, which has been closed since the storm "
        "in March. Engineers say the repairs will take another six weeks. In sport, the home "
        "team won again on Saturday, their fourth win in a row.\" 2>/dev/null",
        voice, path);
    if (std::system(command.c_str()) != 0) {
        ::unlink(path.c_str());
        throw std::runtime_error("espeak-ng failed; the playlists need it (apt install espeak-ng)");
    }
    auto speech = readMono(path, 0.0, seconds);
    ::unlink(path.c_str());
    speech.resize(framesOf(seconds), 0.0);
    return speech;
}

Mono roomTone(std::size_t frames, RandomSequence& rng) {
    Mono out(frames);
    double low = 0.0;
    for (auto& sample : out) {
        low = 0.97 * low + 0.03 * rng.bipolar();
        sample = low;
    }
    return out;
}

struct Programme {
    SegmentKind kind;
    double seconds;
    double lufs;
    double pauseAfter;
};

Clip build(std::string name, const Sources& sources, const std::vector<Programme>& programmes,
           RandomSequence& rng, bool withEspeak) {
    double total = 0.0;
    for (const auto& p : programmes) {
        total += p.seconds + p.pauseAfter;
    }
    // The room tone of the whole clip, under everything, as a broadcast has it.
    auto mix = atLoudness(roomTone(framesOf(total), rng), -62.0);
    Clip clip{std::move(name), rate, {}, {}};
    double at = 0.0;
    std::size_t music = static_cast<std::size_t>(rng.unit() * sources.music.size());
    bool espeakDone = !withEspeak;
    for (const auto& p : programmes) {
        Mono sound;
        std::string what;
        if (p.kind == SegmentKind::music) {
            const auto& file = sources.music[music++ % sources.music.size()];
            sound = readMono(file, 15.0, p.seconds);
            what = file.filename().string();
        } else if (!espeakDone) {
            sound = espeak(sources.espeakVoice, p.seconds);
            espeakDone = true;
            what = "espeak-ng " + sources.espeakVoice;
        } else {
            sound = talk(sources, p.seconds, rng);
            what = sources.speechPackage;
        }
        sound.resize(framesOf(p.seconds), 0.0);
        sound = atLoudness(std::move(sound), p.lufs);
        const auto start = framesOf(at);
        for (std::size_t i = 0; i < sound.size() && start + i < mix.size(); ++i) {
            mix[start + i] += sound[i];
        }
        clip.segments.push_back(
            {p.kind, at, at + p.seconds, fmt::format("{} at {}", what, p.lufs)});
        at += p.seconds;
        if (p.pauseAfter > 0.0) {
            clip.segments.push_back({SegmentKind::pause, at, at + p.pauseAfter, "room tone"});
        }
        at += p.pauseAfter;
    }
    clip.stereo.resize(mix.size() * 2);
    for (std::size_t i = 0; i < mix.size(); ++i) {
        clip.stereo[2 * i] = clip.stereo[2 * i + 1] =
            static_cast<float>(std::clamp(mix[i], -0.999, 0.999));
    }
    return clip;
}

Sources sourcesOf(PlaylistSet set) {
    if (set == PlaylistSet::tuning) {
        return {"/usr/share/asterisk/sounds/en_US_f_Allison", "asterisk-core-sounds-en-wav",
                "en-us+m3", filesIn("/usr/share/games/asc/music", "asc-music"), "asc-music"};
    }
    return {"/usr/share/asterisk/sounds/fr_CA_f_June", "asterisk-core-sounds-fr-wav", "fr+f2",
            filesIn("/usr/share/scummvm/drascula/audio", "drascula-music"), "drascula-music"};
}

} // namespace

std::string_view nameOf(PlaylistSet set) {
    return set == PlaylistSet::tuning ? "tuning" : "held-out";
}

std::vector<Clip> generatePlaylists(PlaylistSet set) {
    const auto sources = sourcesOf(set);
    RandomSequence rng(set == PlaylistSet::tuning ? 101u : 202u);
    const auto s = SegmentKind::dialogue;
    const auto m = SegmentKind::music;
    const auto prefix = std::string(nameOf(set)) + "-";
    // Levels 15 to 20 LU apart from one programme to the next; pauses from
    // a breath to a long silence.
    std::vector<Clip> clips;
    clips.push_back(build(prefix + "evening", sources,
                          {{s, 15.0, -30.0, 2.0},
                           {m, 15.0, -12.0, 0.5},
                           {s, 15.0, -28.0, 20.0},
                           {m, 15.0, -9.0, 1.0},
                           {s, 15.0, -26.0, 0.0},
                           {m, 15.0, -10.0, 8.0},
                           {m, 15.0, -27.0, 0.0}},
                          rng, true));
    clips.push_back(build(prefix + "radio", sources,
                          {{m, 15.0, -10.0, 0.0},
                           {s, 15.0, -27.0, 5.0},
                           {s, 15.0, -11.0, 0.5},
                           {m, 15.0, -29.0, 3.0},
                           {s, 15.0, -13.0, 12.0},
                           {m, 15.0, -30.0, 0.0}},
                          rng, false));
    clips.push_back(build(prefix + "steady", sources, {{m, 40.0, -20.0, 0.0}}, rng, false));
    return clips;
}

} // namespace quellora::night
