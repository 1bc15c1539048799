#include "night/clip_set.h"

#include "base/random_sequence.h"
#include "cli/replacement_file.h"
#include "cli/sound_file_reader.h"
#include "cli/sound_file_writer.h"
#include "dsp/loudness_meter.h"

#include <fmt/format.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <numbers>
#include <sstream>
#include <stdexcept>

namespace quellora::night {
namespace {

constexpr int rate = 48000;
constexpr double twoPi = 2.0 * std::numbers::pi;

using Rng = RandomSequence;

using Mono = std::vector<double>;
struct Stereo {
    Mono left;
    Mono right;
    std::size_t frames() const { return left.size(); }
};

std::size_t framesOf(double seconds) {
    return static_cast<std::size_t>(std::lround(seconds * rate));
}

double integratedLufs(const Stereo& sound) {
    LoudnessMeter meter(2, rate);
    std::vector<float> block;
    block.reserve(sound.frames() * 2);
    for (std::size_t i = 0; i < sound.frames(); ++i) {
        block.push_back(static_cast<float>(sound.left[i]));
        block.push_back(static_cast<float>(sound.right[i]));
    }
    meter.add(block.data(), static_cast<std::int64_t>(sound.frames()));
    return meter.measurement().integratedLufs;
}

Stereo atLoudness(Stereo sound, double lufs) {
    const double gain = std::pow(10.0, (lufs - integratedLufs(sound)) / 20.0);
    for (auto* channel : {&sound.left, &sound.right}) {
        for (auto& sample : *channel) {
            sample *= gain;
        }
    }
    return sound;
}

// Effects are mastered to a sample peak, as a mix engineer would leave them.
Stereo atPeak(Stereo sound, double dbfs) {
    double peak = 0.0;
    for (const auto* channel : {&sound.left, &sound.right}) {
        for (const double sample : *channel) {
            peak = std::max(peak, std::fabs(sample));
        }
    }
    const double gain = peak > 0.0 ? std::pow(10.0, dbfs / 20.0) / peak : 0.0;
    for (auto* channel : {&sound.left, &sound.right}) {
        for (auto& sample : *channel) {
            sample *= gain;
        }
    }
    return sound;
}

Stereo centred(const Mono& mono) {
    return {mono, mono};
}

// espeak-ng speaks at 22050 Hz; a windowed-sinc resampler brings it to 48 kHz.
Mono resampled(const std::vector<float>& input, int inputRate) {
    const double ratio = static_cast<double>(inputRate) / rate;
    const std::size_t frames = static_cast<std::size_t>(static_cast<double>(input.size()) / ratio);
    Mono output(frames);
    constexpr int halfTaps = 16;
    for (std::size_t n = 0; n < frames; ++n) {
        const double position = static_cast<double>(n) * ratio;
        const auto centre = static_cast<long>(position);
        double sum = 0.0;
        for (long k = centre - halfTaps + 1; k <= centre + halfTaps; ++k) {
            if (k < 0 || k >= static_cast<long>(input.size())) {
                continue;
            }
            const double t = position - static_cast<double>(k);
            const double sinc =
                t == 0.0 ? 1.0 : std::sin(std::numbers::pi * t) / (std::numbers::pi * t);
            const double window = 0.5 + 0.5 * std::cos(std::numbers::pi * t / halfTaps);
            sum += static_cast<double>(input[static_cast<std::size_t>(k)]) * sinc * window;
        }
        output[n] = sum;
    }
    return output;
}

struct Voice {
    std::string name; // espeak-ng voice with variant
    int wordsPerMinute;
    int pitch;
};

Mono speak(const std::string& text, const Voice& voice) {
    char pattern[] = "/tmp/quellora-speech-XXXXXX.wav";
    const int fd = ::mkstemps(pattern, 4);
    if (fd < 0) {
        throw std::runtime_error("cannot create a temporary file for speech");
    }
    ::close(fd);
    const std::string path = pattern;
    const auto command = fmt::format("espeak-ng -v '{}' -s {} -p {} -w '{}' \"{}\" 2>/dev/null",
                                     voice.name, voice.wordsPerMinute, voice.pitch, path, text);
    const int status = std::system(command.c_str());
    if (status != 0) {
        ::unlink(path.c_str());
        throw std::runtime_error("espeak-ng failed; the clip set needs it (apt install espeak-ng)");
    }
    std::vector<float> samples;
    int inputRate = 0;
    {
        SoundFileReader reader(path);
        inputRate = reader.info().sampleRate;
        samples.resize(static_cast<std::size_t>(reader.info().frames * reader.info().channels));
        reader.read(samples.data(), reader.info().frames);
    }
    ::unlink(path.c_str());
    return resampled(samples, inputRate);
}

const std::array<const char*, 14> sentences{
    "I told you not to come back here tonight.",
    "We have about ten minutes before they notice the door is open.",
    "Do you remember the summer we spent at the lake?",
    "Listen to me. Whatever happens, you keep walking.",
    "The report says the bridge was closed at midnight.",
    "She never answered my letters, not even once.",
    "Put the bag down slowly and step away from the car.",
    "It is quiet out there. Too quiet, if you ask me.",
    "If we leave now we can still make the last train.",
    "I am sorry. I should have told you the truth from the start.",
    "Keep your voice down, someone is upstairs.",
    "Tonight on the news, heavy rain is expected across the north.",
    "Get everyone out of the building, now!",
    "They are coming through the tunnel, move, move!",
};

// Lines of speech with pauses between them, filling `seconds`.
Mono dialogue(double seconds, const std::vector<Voice>& voices, Rng& rng, std::size_t& line) {
    Mono out(framesOf(seconds), 0.0);
    std::size_t at = framesOf(rng.between(0.1, 0.4));
    std::size_t turn = 0;
    while (at < out.size()) {
        const auto speech =
            speak(sentences[line++ % sentences.size()], voices[turn++ % voices.size()]);
        for (std::size_t i = 0; i < speech.size() && at + i < out.size(); ++i) {
            out[at + i] = speech[i];
        }
        at += speech.size() + framesOf(rng.between(0.3, 0.9));
    }
    return out;
}

// One-pole low-pass with the given corner, in place.
void lowPass(Mono& signal, double cornerHz) {
    const double a = std::exp(-twoPi * cornerHz / rate);
    double state = 0.0;
    for (auto& sample : signal) {
        state = (1.0 - a) * sample + a * state;
        sample = state;
    }
}

Mono noise(std::size_t frames, Rng& rng) {
    Mono out(frames);
    for (auto& sample : out) {
        sample = rng.bipolar();
    }
    return out;
}

// A boom, a broadband roar and debris crackle, with a 10 ms onset.
Stereo explosion(double seconds, Rng& rng) {
    const auto frames = framesOf(seconds);
    Stereo out{Mono(frames, 0.0), Mono(frames, 0.0)};
    const double boomHz = rng.between(35.0, 55.0);
    for (auto* channel : {&out.left, &out.right}) {
        auto roar = noise(frames, rng);
        lowPass(roar, 900.0);
        auto rumble = noise(frames, rng);
        lowPass(rumble, 200.0);
        lowPass(rumble, 200.0);
        const auto crackle = noise(frames, rng);
        for (std::size_t i = 0; i < frames; ++i) {
            const double t = static_cast<double>(i) / rate;
            const double onset = std::min(1.0, t / 0.01);
            (*channel)[i] =
                onset * (0.5 * std::exp(-t / 0.5) * std::sin(twoPi * boomHz * t) +
                         1.6 * std::exp(-t / 1.2) * roar[i] + 8.0 * std::exp(-t / 1.0) * rumble[i] +
                         0.15 * std::exp(-t / 0.2) * crackle[i]);
        }
    }
    return out;
}

// Bursts of shots 80 to 250 ms apart, each a crack and a thump.
Stereo gunfire(double seconds, Rng& rng) {
    const auto frames = framesOf(seconds);
    Stereo out{Mono(frames, 0.0), Mono(frames, 0.0)};
    for (double at = 0.0; at < seconds - 0.2;
         at += rng.unit() < 0.15 ? rng.between(0.5, 1.0) : rng.between(0.08, 0.25)) {
        const double pan = rng.between(-0.7, 0.7);
        const double level = rng.between(0.6, 1.0);
        const auto start = framesOf(at);
        for (std::size_t i = 0; i < framesOf(0.25) && start + i < frames; ++i) {
            const double t = static_cast<double>(i) / rate;
            const double shot = level * (std::exp(-t / 0.012) * rng.bipolar() +
                                         0.8 * std::exp(-t / 0.04) * std::sin(twoPi * 90.0 * t));
            out.left[start + i] += shot * (1.0 - pan);
            out.right[start + i] += shot * (1.0 + pan);
        }
    }
    return out;
}

// Many voices at once: noise shaped like speech, slowly swelling.
Stereo crowd(double seconds, Rng& rng) {
    const auto frames = framesOf(seconds);
    Stereo out{noise(frames, rng), noise(frames, rng)};
    for (auto* channel : {&out.left, &out.right}) {
        lowPass(*channel, 1800.0);
        Mono low = *channel;
        lowPass(low, 250.0);
        for (std::size_t i = 0; i < frames; ++i) {
            const double t = static_cast<double>(i) / rate;
            (*channel)[i] = ((*channel)[i] - low[i]) * (1.0 + 0.3 * std::sin(twoPi * 0.3 * t) +
                                                        0.2 * std::sin(twoPi * 3.1 * t));
        }
    }
    return out;
}

double midiToHz(double note) {
    return 440.0 * std::pow(2.0, (note - 69.0) / 12.0);
}

// A steady, dense band: pad chords, bass, kick, snare and hi-hats at `bpm`.
Stereo music(double seconds, double bpm, int key, Rng& rng) {
    const auto frames = framesOf(seconds);
    Stereo out{Mono(frames, 0.0), Mono(frames, 0.0)};
    constexpr std::array<std::array<int, 3>, 4> progression{
        {{0, 4, 7}, {-3, 0, 4}, {5, 9, 12}, {7, 11, 14}}};
    const double beatSeconds = 60.0 / bpm;
    std::array<double, 3> phases{};
    double bassPhase = 0.0;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const auto beat = static_cast<long>(t / beatSeconds);
        const double sinceBeat = t - static_cast<double>(beat) * beatSeconds;
        const double sinceEighth = std::fmod(t, beatSeconds / 2.0);
        const auto& chord = progression[static_cast<std::size_t>((beat / 4) % 4)];
        double left = 0.0;
        double right = 0.0;
        for (std::size_t v = 0; v < chord.size(); ++v) {
            phases[v] = std::fmod(phases[v] + twoPi * midiToHz(60 + key + chord[v]) / rate, twoPi);
            double tone = 0.0;
            for (int h = 1; h <= 6; ++h) {
                tone += std::sin(h * phases[v]) / h;
            }
            const double pan = (static_cast<double>(v) - 1.0) * 0.5;
            left += 0.3 * tone * (1.0 - pan);
            right += 0.3 * tone * (1.0 + pan);
        }
        bassPhase = std::fmod(bassPhase + twoPi * midiToHz(36 + key + chord[0]) / rate, twoPi);
        const double bass = 0.8 * std::sin(bassPhase) + 0.3 * std::sin(2.0 * bassPhase);
        const double kickHz = 45.0 + 80.0 * std::exp(-sinceBeat * 35.0);
        const double kick =
            1.6 * std::exp(-sinceBeat * 10.0) * std::sin(twoPi * kickHz * sinceBeat);
        const double snare =
            beat % 2 == 1 ? 0.7 * std::exp(-sinceBeat * 18.0) * rng.bipolar() : 0.0;
        const double hat = 0.15 * std::exp(-sinceEighth * 60.0) * rng.bipolar();
        out.left[i] = left + bass + kick + snare + hat * 0.7;
        out.right[i] = right + bass + kick + snare + hat * 1.3;
    }
    return out;
}

// Loud, then hard-limited: what adverts are made of.
Stereo advert(double seconds, Rng& rng, std::size_t& line) {
    auto bed = atLoudness(music(seconds, 128.0, 2, rng), -20.0);
    const auto voice =
        atLoudness(centred(dialogue(seconds, {{"en-us+m3", 185, 60}}, rng, line)), -18.0);
    for (std::size_t i = 0; i < bed.frames(); ++i) {
        for (auto* channel : {&bed.left, &bed.right}) {
            (*channel)[i] = std::clamp(((*channel)[i] + voice.left[i]) * 4.0, -0.95, 0.95);
        }
    }
    return atLoudness(bed, -9.0);
}

class ClipBuilder {
public:
    ClipBuilder(std::string name, double seconds)
        : left(framesOf(seconds), 0.0)
        , right(framesOf(seconds), 0.0) {
        clip.name = std::move(name);
        clip.sampleRate = rate;
    }

    void mix(double atSeconds, const Stereo& sound) {
        const auto start = framesOf(atSeconds);
        for (std::size_t i = 0; i < sound.frames() && start + i < left.size(); ++i) {
            left[start + i] += sound.left[i];
            right[start + i] += sound.right[i];
        }
    }
    void label(SegmentKind kind, double start, double end, std::string what) {
        clip.segments.push_back({kind, start, end, std::move(what)});
    }
    Clip finish() {
        clip.stereo.resize(left.size() * 2);
        for (std::size_t i = 0; i < left.size(); ++i) {
            // Where elements pile up the master clips, as broadcast masters do.
            clip.stereo[2 * i] = static_cast<float>(std::clamp(left[i], -0.999, 0.999));
            clip.stereo[2 * i + 1] = static_cast<float>(std::clamp(right[i], -0.999, 0.999));
        }
        return std::move(clip);
    }

private:
    Clip clip;
    Mono left;
    Mono right;
};

const Voice man{"en-us+m1", 160, 45};
const Voice woman{"en-us+f3", 165, 55};
const Voice britishMan{"en+m4", 150, 40};
const Voice whisperer{"en-us+whisper", 140, 50};
const Voice shouter{"en-us+m7", 190, 70};

// Dialogue of `seconds` at `lufs`, labelled.
void addDialogue(ClipBuilder& b, double start, double seconds, double lufs,
                 const std::vector<Voice>& voices, Rng& rng, std::size_t& line,
                 const std::string& what) {
    b.mix(start, atLoudness(centred(dialogue(seconds, voices, rng, line)), lufs));
    b.label(SegmentKind::dialogue, start, start + seconds, what);
}

Stereo roomTone(double seconds, double lufs, Rng& rng) {
    Stereo tone{noise(framesOf(seconds), rng), noise(framesOf(seconds), rng)};
    lowPass(tone.left, 400.0);
    lowPass(tone.right, 400.0);
    return atLoudness(tone, lufs);
}

Clip drama(Rng& rng, std::size_t& line) {
    ClipBuilder b("drama", 52.0);
    b.mix(0.0, roomTone(52.0, -58.0, rng));
    addDialogue(b, 0.0, 8.0, -31.0, {man, woman}, rng, line, "quiet talk");
    addDialogue(b, 8.0, 7.0, -42.0, {whisperer}, rng, line, "whisper");
    addDialogue(b, 15.0, 8.0, -30.0, {woman, man}, rng, line, "talk");
    b.mix(23.0, atPeak(gunfire(5.0, rng), -1.0));
    b.label(SegmentKind::action, 23.0, 28.0, "gunfire");
    addDialogue(b, 28.0, 8.0, -31.0, {man}, rng, line, "talk");
    b.mix(36.0, atPeak(explosion(5.0, rng), -0.5));
    b.label(SegmentKind::action, 36.0, 41.0, "explosion");
    addDialogue(b, 41.0, 11.0, -30.0, {woman, man}, rng, line, "talk");
    return b.finish();
}

Clip chase(Rng& rng, std::size_t& line) {
    ClipBuilder b("chase", 54.0);
    b.mix(0.0, atLoudness(music(54.0, 96.0, -2, rng), -40.0));
    addDialogue(b, 0.0, 8.0, -28.0, {britishMan, woman}, rng, line, "talk over a music bed");
    auto action = atLoudness(music(8.0, 140.0, 3, rng), -17.0);
    b.mix(8.0, action);
    b.mix(9.0, atPeak(explosion(3.5, rng), -3.0));
    b.mix(13.0, atPeak(explosion(3.0, rng), -2.5));
    b.label(SegmentKind::action, 8.0, 16.0, "explosions and score");
    b.mix(16.0, atLoudness(crowd(8.0, rng), -24.0));
    addDialogue(b, 16.0, 8.0, -19.0, {shouter}, rng, line, "shouting over a crowd");
    addDialogue(b, 24.0, 8.0, -29.0, {man, woman}, rng, line, "talk");
    b.mix(32.0, atPeak(gunfire(6.0, rng), -2.0));
    b.mix(35.0, atPeak(explosion(3.0, rng), -3.0));
    b.label(SegmentKind::action, 32.0, 38.0, "gunfire and an explosion");
    addDialogue(b, 38.0, 8.0, -38.0, {whisperer}, rng, line, "whisper over the music bed");
    addDialogue(b, 46.0, 8.0, -28.0, {woman}, rng, line, "talk");
    return b.finish();
}

Clip eveningTv(Rng& rng, std::size_t& line) {
    ClipBuilder b("evening-tv", 56.0);
    b.mix(0.0, roomTone(56.0, -55.0, rng));
    addDialogue(b, 0.0, 8.0, -25.0, {britishMan}, rng, line, "presenter");
    b.mix(8.0, advert(8.0, rng, line));
    b.label(SegmentKind::advert, 8.0, 16.0, "hard-limited advert");
    addDialogue(b, 16.0, 8.0, -26.0, {woman, man}, rng, line, "talk");
    b.mix(24.0, atLoudness(music(8.0, 110.0, 5, rng), -20.0));
    b.label(SegmentKind::music, 24.0, 32.0, "music bed");
    addDialogue(b, 32.0, 8.0, -25.0, {man}, rng, line, "talk");
    b.mix(40.0, atLoudness(music(6.0, 150.0, 1, rng), -19.0));
    b.mix(40.5, atPeak(explosion(4.0, rng), -1.5));
    b.mix(43.0, atPeak(gunfire(3.0, rng), -3.0));
    b.label(SegmentKind::action, 40.0, 46.0, "explosion and gunfire over the score");
    addDialogue(b, 46.0, 10.0, -24.0, {woman}, rng, line, "talk");
    return b.finish();
}

Clip warFilm(Rng& rng, std::size_t& line) {
    ClipBuilder b("war-film", 50.0);
    auto wind = noise(framesOf(50.0), rng);
    lowPass(wind, 120.0);
    b.mix(0.0, atLoudness({wind, wind}, -48.0));
    addDialogue(b, 0.0, 9.0, -33.0, {man, britishMan}, rng, line, "quiet talk in the wind");
    b.mix(9.0, atPeak(gunfire(7.0, rng), -1.0));
    b.label(SegmentKind::action, 9.0, 16.0, "gunfire");
    addDialogue(b, 16.0, 8.0, -40.0, {whisperer}, rng, line, "whisper");
    b.mix(24.0, atPeak(explosion(4.0, rng), -1.0));
    b.mix(27.0, atPeak(explosion(4.0, rng), -2.0));
    b.label(SegmentKind::action, 24.0, 31.0, "explosions");
    addDialogue(b, 31.0, 9.0, -32.0, {britishMan, man}, rng, line, "talk");
    b.mix(40.0, atLoudness(crowd(10.0, rng), -30.0));
    addDialogue(b, 40.0, 10.0, -22.0, {shouter}, rng, line, "shouting over a crowd");
    return b.finish();
}

Clip musicOnly(std::string name, double bpm, int key, double lufs, Rng& rng) {
    ClipBuilder b(std::move(name), 40.0);
    b.mix(0.0, atLoudness(music(40.0, bpm, key, rng), lufs));
    b.label(SegmentKind::music, 0.0, 40.0, "steady dense music");
    return b.finish();
}

} // namespace

std::vector<double> resampledTo48k(const std::vector<float>& input, int inputRate) {
    return resampled(input, inputRate);
}

std::string_view labelOf(SegmentKind kind) {
    switch (kind) {
    case SegmentKind::dialogue:
        return "dialogue";
    case SegmentKind::action:
        return "action";
    case SegmentKind::music:
        return "music";
    case SegmentKind::advert:
        return "advert";
    case SegmentKind::pause:
        return "pause";
    }
    return "";
}

std::optional<SegmentKind> segmentKindFromLabel(std::string_view label) {
    for (const auto kind : {SegmentKind::dialogue, SegmentKind::action, SegmentKind::music,
                            SegmentKind::advert, SegmentKind::pause}) {
        if (labelOf(kind) == label) {
            return kind;
        }
    }
    return std::nullopt;
}

std::vector<Clip> generateClipSet() {
    Rng rng(0x5eed1234u);
    std::size_t line = 0;
    std::vector<Clip> clips;
    clips.push_back(drama(rng, line));
    clips.push_back(chase(rng, line));
    clips.push_back(eveningTv(rng, line));
    clips.push_back(warFilm(rng, line));
    clips.push_back(musicOnly("music-loud", 124.0, 0, -14.0, rng));
    clips.push_back(musicOnly("music-soft", 88.0, 7, -23.0, rng));
    return clips;
}

void writeClip(const Clip& clip, const std::filesystem::path& directory) {
    const auto wav = directory / (clip.name + ".wav");
    const auto frames = static_cast<std::int64_t>(clip.stereo.size() / 2);
    ReplacementFile file(wav);
    SoundFileWriter writer(file.descriptor(),
                           {SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, clip.sampleRate, frames},
                           wav.string());
    writer.write(clip.stereo.data(), frames);
    writer.close();
    file.commit();
    std::ofstream labels(directory / (clip.name + ".labels"));
    for (const auto& segment : clip.segments) {
        labels << fmt::format("{:.3f} {:.3f} {} {}\n", segment.startSeconds, segment.endSeconds,
                              labelOf(segment.kind), segment.what);
    }
}

Clip readClip(const std::filesystem::path& wavPath) {
    Clip clip;
    clip.name = wavPath.stem().string();
    SoundFileReader reader(wavPath);
    if (reader.info().channels != 2) {
        throw std::runtime_error(wavPath.string() + ": clips are stereo");
    }
    clip.sampleRate = reader.info().sampleRate;
    clip.stereo.resize(static_cast<std::size_t>(reader.info().frames * 2));
    clip.stereo.resize(
        static_cast<std::size_t>(reader.read(clip.stereo.data(), reader.info().frames) * 2));
    auto labelsPath = wavPath;
    labelsPath.replace_extension(".labels");
    std::ifstream labels(labelsPath);
    if (!labels) {
        throw std::runtime_error(labelsPath.string() + " is missing");
    }
    for (std::string text; std::getline(labels, text);) {
        std::istringstream fields(text);
        Segment segment{SegmentKind::dialogue, 0.0, 0.0, ""};
        std::string label;
        if (!(fields >> segment.startSeconds >> segment.endSeconds >> label)) {
            continue;
        }
        const auto kind = segmentKindFromLabel(label);
        if (!kind) {
            throw std::runtime_error(
                fmt::format("{}: unknown label \"{}\"", labelsPath.string(), label));
        }
        segment.kind = *kind;
        std::getline(fields >> std::ws, segment.what);
        clip.segments.push_back(segment);
    }
    return clip;
}

} // namespace quellora::night
