// A hostile, realistic schedule from a seed: plays of random length from
// every client API, several at once; pauses across the idle-suspend window;
// default-output switches with every tool; a headset unplugged while it is
// the default and plugged in again; an equaliser (virtual sink) created, made
// the default, re-aimed and removed; the session manager and the server
// restarting. Every sink is recorded throughout. Each play glides through a
// band of its own, so the frequency heard tells which play it is and how far
// into it (recorders drop cycles on a busy machine: their clocks cannot).
// Every play must be heard for as long as it played, never silent for more
// than 100 ms (restarts silence everything; where the output changes the
// server itself needs up to 250 ms), and settle at the compressed level; after
// every event audio goes round in no loop and every play reaches a sink;
// Quellora never exits and leaves only its tap and aggregate.
//
// QUELLORA_CHAOS_SECONDS sets the length (60 s by default), QUELLORA_CHAOS_SEED
// replays a run; every failure names the seed.

#include "quellora_under_test.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <thread>

namespace quellora::integration {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr double windowSeconds = 0.04;
constexpr double hopSeconds = 0.01;
// Bands 150 Hz apart; a play glides up by at most 70 Hz in its 3.5 s.
constexpr double glideHzPerSecond = 20.0;
constexpr double playLevelsDb[] = {-18.0, -12.0, -6.0};
constexpr const char* headset = "usb-headset";
constexpr double startupSeconds = 0.3;
// A play that starts while IO is suspended plays into the tap until the
// server has linked the pipeline back in: Quellora restarts its IO within a
// millisecond of the tap's news, the server takes a few cycles more
// (quellora-resume-probe measures it). What the start of a play may lose.
constexpr double resumeSeconds = 0.25;
// What an output that changes or vanishes may cost a play: the server's own
// relinking (see above).
constexpr double outputChangeSeconds = 0.25;

struct ChaosSettings {
    std::uint32_t seed = 0;
    double seconds = 60.0;

    static ChaosSettings fromEnvironment() {
        ChaosSettings settings;
        const char* seed = std::getenv("QUELLORA_CHAOS_SEED");
        settings.seed = seed ? static_cast<std::uint32_t>(std::strtoul(seed, nullptr, 10))
                             : std::random_device{}();
        if (const char* seconds = std::getenv("QUELLORA_CHAOS_SECONDS")) {
            settings.seconds = std::max(30.0, std::strtod(seconds, nullptr));
        }
        return settings;
    }
};

struct Play {
    int number = 0;
    AudioClient client = AudioClient::native;
    double frequencyHz = 0;
    double levelDb = 0;
    double seconds = 0;
    double spawnedAt = 0;          // s since the run began
    std::optional<double> endedAt; // as far as the checks go: a restart ends it
    // When its process exited: a play a session manager's restart cut off
    // plays on, and its sound still moves the compressor.
    std::optional<double> exitedAt;
    bool cut = false; // ended by a restart
    std::unique_ptr<Playback> playback;

    double probeHz() const { return frequencyHz + glideHzPerSecond * seconds / 2; }
    // How far into the play a frequency heard of it is.
    double positionAt(double heardHz) const { return (heardHz - frequencyHz) / glideHzPerSecond; }

    std::string describe() const {
        std::ostringstream text;
        text << "play " << number << " (" << clientName(client) << ", " << frequencyHz << " Hz, "
             << levelDb << " dBFS, " << seconds << " s from " << spawnedAt << " s)";
        return text.str();
    }
};

// A moment of a play heard on one of the sinks.
struct Sighting {
    double position; // s into the play
    double at;       // s since the run began, as far as the recorder's clock tells
    double levelDb;
    // Its neighbours on either side heard the play one hop earlier and later:
    // the window lies wholly inside it. One that straddles the play's start
    // or end reads a false frequency, so a false position, at a falling level.
    bool steady = false;
    // Placed by the recorder's clock, not by frequency: the play's band was
    // full there, but its frequency told nothing (two copies of it overlap
    // while a pipeline takes over from a bypass). It counts as heard only.
    bool byTime = false;
};

// Marks the sightings of one recording whose both neighbours agree with them.
void markSteady(std::vector<Sighting>& inTake) {
    const auto follows = [](const Sighting& earlier, const Sighting& later) {
        return std::abs(later.at - earlier.at - hopSeconds) < 0.001 &&
               std::abs(later.position - earlier.position - hopSeconds) < 0.004;
    };
    for (std::size_t i = 1; i + 1 < inTake.size(); ++i) {
        inTake[i].steady = follows(inTake[i - 1], inTake[i]) && follows(inTake[i], inTake[i + 1]);
    }
}

// Something that moves the audio: a switch, a removal, a restart. Levels are
// judged only from 1.5 s after it; silence is excused from its start for
// `silencesFor` seconds, or its whole length when that is negative.
struct Disruption {
    double at = 0;
    double until = 0;
    double silencesFor = 0;
    std::string what;

    bool silences() const { return silencesFor != 0; }
    double silentUntil() const { return silencesFor < 0 ? until : at + silencesFor; }
};

// What one recorder heard of one sink, and when its first frame was.
struct Take {
    std::string sink;
    double firstFrameAt = 0;
    AudioClip clip;
};

class Chaos {
public:
    explicit Chaos(ChaosSettings settings)
        : settings_(settings)
        , random_(settings.seed)
        , session_(sessionOptions()) {}

    void run();
    // What happened, for a failure: the plays, the recordings, the
    // disruptions and what Quellora said.
    void describeRun();

private:
    static PrivatePipeWireSession::Options sessionOptions() {
        PrivatePipeWireSession::Options options;
        options.sinks.push_back({headset, "USB Headset"});
        return options;
    }

    double now() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }
    double uniform(double from, double to) {
        return std::uniform_real_distribution<double>(from, to)(random_);
    }
    template <typename T>
    const T& pick(const std::vector<T>& choices) {
        return choices[std::uniform_int_distribution<std::size_t>(0, choices.size() - 1)(random_)];
    }
    std::string where() const { return "seed " + std::to_string(settings_.seed); }

    void startQuellora();
    void startPlay();
    void reapPlays();
    void switchOutput();
    void removeAndReturnHeadset();
    // The virtual sink's life, one step per call.
    void createEqualiser();
    void makeEqualiserTheDefault();
    void reaimEqualiser();
    void removeEqualiser();
    void restartSessionManager();
    void restartServer();
    void startRecorder(const std::string& sink);
    void stopRecorder(const std::string& sink);
    void stopRecorders();
    void startRecorders();
    // Runs `action` as a disruption: recorders restarted around it when
    // `restartsRecorders`, silence excused while it lasts when `silences`.
    void disrupt(const std::string& what, double silencesFor, bool restartsRecorders,
                 const std::function<void()>& action);
    // Right after an event: audio goes round in no loop, and every play that
    // runs (and no restart cut) reaches a recorded sink.
    void checkGraph(const std::string& after);
    void check();
    void checkPlay(const Play& play);
    std::vector<Sighting> sightingsOf(const Play& play) const;
    // A position in a play happened between spawnedAt + position and up to
    // startupSeconds later (its process starting and connecting): all the
    // checker needs of the run's clock. Each of these holds for that whole span.
    bool alone(const Play& play, double position) const;
    bool settled(const Play& play, double position) const;
    bool silenceExcused(const Play& play, double position) const;

    ChaosSettings settings_;
    std::mt19937 random_;
    PrivatePipeWireSession session_;
    Clock::time_point start_ = Clock::now();
    std::optional<ChildProcess> quellora_;
    std::vector<Play> plays_;
    std::vector<Disruption> disruptions_;
    std::map<std::string, Recording> recorders_;
    std::map<std::string, double> recorderStarts_;
    std::vector<Take> takes_;
    std::vector<std::string> sinks_{"speakers", "headphones", headset};
    std::optional<VirtualSink> equaliser_;
    std::size_t switches_ = 0;
};

void Chaos::startQuellora() {
    quellora_.emplace(ChildProcess::start(
        {"env", "QUELLORA_LOG_LEVEL=info", QUELLORA_EXECUTABLE, "run", "--verbose"}));
    ASSERT_TRUE(quellora_->waitForOutput("Quellora is on.\n", 10s)) << quellora_->errors();
    GraphSnapshot last;
    ASSERT_TRUE(session_.waitForGraph(
        [](const GraphSnapshot& g) { return processesInto(g, "speakers"); }, 10s, &last))
        << last.describe();
}

void Chaos::startRecorder(const std::string& sink) {
    auto recording = session_.startRecording(sink);
    const auto firstFrame = recording.waitForFirstFrame(10000ms);
    ASSERT_TRUE(firstFrame) << "the recorder of " << sink << " heard nothing";
    recorderStarts_[sink] = std::chrono::duration<double>(*firstFrame - start_).count();
    recorders_.emplace(sink, std::move(recording));
}

void Chaos::stopRecorder(const std::string& sink) {
    const auto recorder = recorders_.find(sink);
    if (recorder != recorders_.end()) {
        takes_.push_back({sink, recorderStarts_.at(sink), recorder->second.stop()});
        recorders_.erase(recorder);
    }
}

void Chaos::stopRecorders() {
    for (const auto& sink : sinks_) {
        stopRecorder(sink);
    }
}

void Chaos::startRecorders() {
    for (const auto& sink : sinks_) {
        startRecorder(sink);
    }
}

void Chaos::startPlay() {
    std::vector<double> free;
    for (int index = 0; index < 10; ++index) {
        const double frequency = 400.0 + 150.0 * index;
        // A band stays taken a while after its play ends: the checker reads
        // a play until a second after its end, and would hear the next one.
        const double at = now();
        const bool inUse = std::any_of(plays_.begin(), plays_.end(), [&](const Play& play) {
            return play.frequencyHz == frequency && play.exitedAt.value_or(1e9) + 1.5 > at;
        });
        if (!inUse) {
            free.push_back(frequency);
        }
    }
    if (free.empty()) {
        return; // a burst of short plays took every band; the next try finds one
    }
    Play play;
    play.number = static_cast<int>(plays_.size());
    play.client = pick(std::vector{AudioClient::native, AudioClient::pulse, AudioClient::alsa});
    play.frequencyHz = pick(free);
    play.levelDb = pick(std::vector(std::begin(playLevelsDb), std::end(playLevelsDb)));
    play.seconds = uniform(0.3, 3.5);
    play.spawnedAt = now();
    play.playback = std::make_unique<Playback>(session_.play(
        glide(play.levelDb, play.seconds, play.frequencyHz, glideHzPerSecond), play.client));
    plays_.push_back(std::move(play));
}

void Chaos::reapPlays() {
    for (auto& play : plays_) {
        if (!play.exitedAt && !play.playback->isPlaying()) {
            play.exitedAt = now();
            play.endedAt = std::min(play.endedAt.value_or(1e9), *play.exitedAt);
        }
    }
}

void Chaos::disrupt(const std::string& what, double silencesFor, bool restartsRecorders,
                    const std::function<void()>& action) {
    Disruption disruption{now(), 0, silencesFor, what};
    if (restartsRecorders) {
        stopRecorders();
    }
    action();
    reapPlays();
    if (restartsRecorders) {
        startRecorders();
        for (const auto& [sink, startedAt] : recorderStarts_) {
            disruption.until = std::max(disruption.until, startedAt);
        }
    }
    disruption.until = std::max(disruption.until, now());
    if (silencesFor >= 0) {
        checkGraph(what);
    }
    // What a restart interrupts ends there.
    for (auto& play : plays_) {
        if (silencesFor < 0 && play.spawnedAt < disruption.at &&
            play.endedAt.value_or(1e9) > disruption.at) {
            play.cut = true;
            play.endedAt = std::min(play.endedAt.value_or(1e9), disruption.at);
        }
    }
    disruptions_.push_back(disruption);
}

void Chaos::switchOutput() {
    const auto current = session_.defaultSink();
    std::vector<std::string> others;
    for (const auto& sink : sinks_) {
        if (sink != current) {
            others.push_back(sink);
        }
    }
    const auto target = pick(others);
    // Every tool in turn, so that every run uses each.
    const DefaultSinkTool tools[] = {DefaultSinkTool::pactl, DefaultSinkTool::wpctl,
                                     DefaultSinkTool::metadata};
    const auto tool = tools[switches_++ % std::size(tools)];
    disrupt("default output to " + target, outputChangeSeconds, false,
            [&] { session_.setDefaultSink(target, tool); });
}

// A headset that plays as the default is unplugged, later plugged in again;
// meanwhile the user picks the speakers.
void Chaos::removeAndReturnHeadset() {
    disrupt("default output to the headset", outputChangeSeconds, false,
            [&] { session_.setDefaultSink(headset); });
    std::this_thread::sleep_for(std::chrono::duration<double>(uniform(1.0, 2.5)));
    disrupt("headset unplugged", outputChangeSeconds, false, [&] {
        stopRecorder(headset);
        session_.destroyNode(headset);
        sinks_.erase(std::find(sinks_.begin(), sinks_.end(), headset));
    });
    std::this_thread::sleep_for(std::chrono::duration<double>(uniform(0.5, 1.5)));
    disrupt("default output to the speakers", outputChangeSeconds, false,
            [&] { session_.setDefaultSink("speakers"); });
    std::this_thread::sleep_for(std::chrono::duration<double>(uniform(1.0, 3.0)));
    disrupt("headset plugged in", 0, false, [&] {
        session_.createNullSink({headset, "USB Headset"});
        sinks_.push_back(headset);
        startRecorder(headset);
    });
}

void Chaos::createEqualiser() {
    const auto target = pick(sinks_);
    disrupt("equaliser created on " + target, 0, false, [&] {
        equaliser_.emplace(session_.createVirtualSink(VirtualSinkKind::loopback, "equaliser",
                                                      "Equaliser", target));
    });
}

void Chaos::makeEqualiserTheDefault() {
    disrupt("default output to the equaliser", outputChangeSeconds, false,
            [&] { session_.setDefaultSink("equaliser", DefaultSinkTool::pactl); });
}

// As its application does when the user picks another output for it.
void Chaos::reaimEqualiser() {
    std::vector<std::string> others;
    const auto graph = session_.graph();
    for (const auto& sink : sinks_) {
        if (!graph.isLinked(equaliser_->playbackNodeName(), sink)) {
            others.push_back(sink);
        }
    }
    const auto target = pick(others);
    disrupt("equaliser re-aimed at " + target, outputChangeSeconds, false,
            [&] { session_.moveStream(equaliser_->playbackNodeName(), target); });
}

void Chaos::removeEqualiser() {
    disrupt("equaliser removed", outputChangeSeconds, false, [&] { equaliser_.reset(); });
}

void Chaos::checkGraph(const std::string& after) {
    std::vector<std::string> running;
    for (const auto& play : plays_) {
        if (!play.exitedAt && !play.cut) {
            running.push_back(play.playback->nodeName());
        }
    }
    const auto sound = [&](const GraphSnapshot& g) {
        return g.loops().empty() &&
               std::all_of(running.begin(), running.end(), [&](const std::string& stream) {
                   const auto reached = g.reachableFrom(stream);
                   return !g.node(stream) ||
                          std::any_of(sinks_.begin(), sinks_.end(), [&](const std::string& sink) {
                              return reached.contains(sink);
                          });
               });
    };
    GraphSnapshot last;
    EXPECT_TRUE(session_.waitForGraph(sound, 1000ms, &last))
        << "after " << after << ": a loop (" << ::testing::PrintToString(last.loops())
        << ") or a play that reaches no sink\n"
        << last.describe() << where();
}

// PulseAudio plays end first. pipewire-pulse binds the new session manager's
// metadata for each of its clients while the session manager sets up that
// client's stream; PipeWire 0.3.65 then has each wait for the other's answer
// and reads neither, for good. Nothing of Quellora's takes part in that.
void Chaos::restartSessionManager() {
    std::vector<std::string> stopped;
    for (auto& play : plays_) {
        if (play.client == AudioClient::pulse && !play.exitedAt) {
            play.cut = true;
            play.endedAt = now();
            play.playback->stop();
            stopped.push_back(play.playback->nodeName());
        }
    }
    reapPlays();
    EXPECT_TRUE(session_.waitForGraph(
        [&](const GraphSnapshot& graph) {
            return std::none_of(stopped.begin(), stopped.end(),
                                [&](const std::string& name) { return graph.node(name); });
        },
        2000ms))
        << "a stopped PulseAudio play's stream stayed" << where();
    disrupt("session manager restart", -1, true, [&] { session_.restartSessionManager(); });
}

void Chaos::restartServer() {
    disrupt("server restart", -1, true, [&] { session_.restartAudioServer(); });
}

void Chaos::run() {
    std::cout << "chaos run: seed " << settings_.seed << ", " << settings_.seconds << " s"
              << std::endl;
    ASSERT_NO_FATAL_FAILURE(startQuellora());
    start_ = Clock::now();
    ASSERT_NO_FATAL_FAILURE(startRecorders());

    // The rarer disruptions at random moments of their own stretch of the run.
    const double length = settings_.seconds;
    using Step = void (Chaos::*)();
    std::vector<std::pair<double, Step>> scheduled{
        {uniform(0.2, 0.3) * length, &Chaos::removeAndReturnHeadset},
        {uniform(0.32, 0.36) * length, &Chaos::createEqualiser},
        {uniform(0.37, 0.39) * length, &Chaos::makeEqualiserTheDefault},
        {uniform(0.41, 0.43) * length, &Chaos::reaimEqualiser},
        {uniform(0.45, 0.47) * length, &Chaos::removeEqualiser},
        {uniform(0.5, 0.6) * length, &Chaos::restartSessionManager},
        {uniform(0.75, 0.8) * length, &Chaos::restartServer},
    };
    double nextPlay = uniform(0.1, 1.0);
    double nextSwitch = uniform(4.0, 8.0);
    while (now() < length) {
        reapPlays();
        const double at = now();
        if (!scheduled.empty() && at >= scheduled.front().first) {
            (this->*scheduled.front().second)();
            scheduled.erase(scheduled.begin());
        } else if (at >= nextSwitch) {
            switchOutput();
            nextSwitch = now() + uniform(5.0, 10.0);
        } else if (at >= nextPlay) {
            const auto playing = std::count_if(plays_.begin(), plays_.end(),
                                               [](const Play& play) { return !play.exitedAt; });
            if (playing < 3) {
                startPlay();
            }
            // Now and then a pause long enough for IO to suspend.
            nextPlay = now() + (uniform(0.0, 1.0) < 0.3 ? uniform(2.0, 4.0) : uniform(0.1, 1.5));
        }
        std::this_thread::sleep_for(10ms);
    }
    for (auto& play : plays_) {
        if (!play.exitedAt) {
            play.playback->waitUntilFinished(10000ms);
        }
    }
    reapPlays();
    stopRecorders();
    check();
}

std::vector<Sighting> Chaos::sightingsOf(const Play& play) const {
    std::vector<Sighting> sightings;
    const double floor = compressedPeakDb(play.levelDb) - 30.0;
    const double from = play.spawnedAt - 0.5;
    const double to = play.endedAt.value_or(settings_.seconds) + 1.0;
    for (const auto& take : takes_) {
        const double offset = std::max(0.0, from - take.firstFrameAt);
        if (to <= take.firstFrameAt || offset >= take.clip.seconds()) {
            continue;
        }
        const auto part = take.clip.slice(offset, to - take.firstFrameAt);
        const auto windows = toneWindows(part, play.probeHz(), windowSeconds, hopSeconds);
        std::vector<Sighting> inTake;
        for (const auto& window : windows) {
            const double position = play.positionAt(window.frequencyHz);
            if (window.levelDb > floor && position > -0.05 && position < play.seconds + 0.05) {
                inTake.push_back(
                    {position, take.firstFrameAt + offset + window.centreSeconds, window.levelDb});
            }
        }
        if (inTake.empty()) {
            continue;
        }
        markSteady(inTake);
        // Where the play began by this recorder's clock; a window whose
        // frequency says otherwise heard something else (another play's
        // edge, a switch's click).
        std::vector<double> origins;
        for (const auto& sighting : inTake) {
            origins.push_back(sighting.at - sighting.position);
        }
        const auto middle = origins.begin() + static_cast<long>(origins.size() / 2);
        std::nth_element(origins.begin(), middle, origins.end());
        std::copy_if(inTake.begin(), inTake.end(), std::back_inserter(sightings),
                     [&](const Sighting& sighting) {
                         return std::abs(sighting.at - sighting.position - *middle) < 0.15;
                     });
        for (const auto& window : windows) {
            const double at = take.firstFrameAt + offset + window.centreSeconds;
            const double position = at - *middle;
            if (window.bandLevelDb > floor && position > -0.05 && position < play.seconds + 0.05) {
                sightings.push_back({position, at, window.bandLevelDb, false, true});
            }
        }
    }
    return sightings;
}

bool Chaos::alone(const Play& play, double position) const {
    // Another play's sound, or the compressor's release after it, changes the gain.
    const double from = play.spawnedAt + position;
    const double to = from + startupSeconds;
    return std::none_of(plays_.begin(), plays_.end(), [&](const Play& other) {
        return other.number != play.number && other.spawnedAt < to &&
               other.exitedAt.value_or(1e9) + 2.0 > from;
    });
}

bool Chaos::settled(const Play& play, double position) const {
    const double from = play.spawnedAt + position;
    const double to = from + startupSeconds;
    return std::none_of(disruptions_.begin(), disruptions_.end(),
                        [&](const Disruption& d) { return d.at < to && d.until + 1.5 > from; });
}

bool Chaos::silenceExcused(const Play& play, double position) const {
    const double from = play.spawnedAt + position;
    const double to = from + startupSeconds;
    return std::any_of(disruptions_.begin(), disruptions_.end(), [&](const Disruption& d) {
        return d.silences() && d.at - hopSeconds < to && d.silentUntil() + hopSeconds > from;
    });
}

void Chaos::checkPlay(const Play& play) {
    const double expected = compressedPeakDb(play.levelDb);
    const auto sightings = sightingsOf(play);
    if (std::all_of(sightings.begin(), sightings.end(),
                    [](const Sighting& sighting) { return sighting.byTime; })) {
        EXPECT_TRUE(play.cut) << play.describe() << " was never heard; " << where();
        return;
    }
    const double end =
        play.cut ? std::min(play.seconds, play.endedAt.value_or(0) - play.spawnedAt) : play.seconds;

    // Which 10 ms of the play were heard, on any sink.
    const auto bins = static_cast<std::size_t>(std::max(0.0, end) / hopSeconds) + 1;
    std::vector<bool> heard(bins, false);
    double firstPosition = end;
    double lastPosition = 0;
    for (const auto& sighting : sightings) {
        const auto bin = static_cast<long>(std::lround(sighting.position / hopSeconds));
        if (bin >= 0 && static_cast<std::size_t>(bin) < bins) {
            heard[static_cast<std::size_t>(bin)] = true;
        }
        if (!sighting.byTime) {
            firstPosition = std::min(firstPosition, sighting.position);
            lastPosition = std::max(lastPosition, sighting.position);
        }
    }
    if (!silenceExcused(play, 0.0)) {
        EXPECT_LT(firstPosition, resumeSeconds)
            << play.describe() << " lost its first " << firstPosition << " s; " << where();
    }
    if (!play.cut && !silenceExcused(play, lastPosition)) {
        EXPECT_GT(lastPosition, play.seconds - 0.1)
            << play.describe() << " lost its last " << play.seconds - lastPosition << " s; "
            << where();
    }
    // A 40 ms window is heard while any of it is: eight unheard windows in a
    // row, 10 ms apart, mean more than 100 ms of silence.
    int unheard = 0;
    for (auto bin = static_cast<std::size_t>(std::max(0.0, firstPosition) / hopSeconds); bin < bins;
         ++bin) {
        const double position = static_cast<double>(bin) * hopSeconds;
        unheard = heard[bin] || silenceExcused(play, position) ? 0 : unheard + 1;
        if (unheard == 8) {
            ADD_FAILURE() << play.describe() << " was silent around " << position << " s into it; "
                          << where();
        }
    }

    int wrongLevels = 0;
    std::ostringstream wrong;
    for (const auto& sighting : sightings) {
        if (sighting.steady && sighting.position >= 0.3 && sighting.position <= end - 0.05 &&
            settled(play, sighting.position) && alone(play, sighting.position) &&
            std::abs(sighting.levelDb - expected) > 1.5 && ++wrongLevels <= 5) {
            wrong << " " << sighting.levelDb << " dBFS " << sighting.position << " s into it ("
                  << sighting.at << " s);";
        }
    }
    EXPECT_EQ(wrongLevels, 0) << play.describe() << " was not at the compressed level of "
                              << expected << " dBFS:" << wrong.str() << " " << where();
}

void Chaos::check() {
    EXPECT_TRUE(quellora_->isRunning()) << "Quellora exited; " << where();
    for (const auto& play : plays_) {
        checkPlay(play);
    }
    GraphSnapshot last;
    EXPECT_TRUE(session_.waitForGraph(onlyOurPipelineRemains, 10000ms, &last))
        << last.describe() << where();
    if (::testing::Test::HasFailure()) {
        describeRun();
    }
}

void Chaos::describeRun() {
    std::cerr << "plays:\n";
    for (const auto& play : plays_) {
        std::cerr << "  " << play.describe() << ", ended " << play.endedAt.value_or(-1) << " s"
                  << (play.cut ? ", cut" : "") << '\n';
    }
    std::cerr << "recordings:\n";
    for (const auto& take : takes_) {
        std::cerr << "  " << take.sink << " from " << take.firstFrameAt << " s for "
                  << take.clip.seconds() << " s\n";
    }
    std::cerr << "disruptions:\n";
    for (const auto& disruption : disruptions_) {
        std::cerr << "  " << disruption.at << "–" << disruption.until << " s: " << disruption.what
                  << '\n';
    }
    if (quellora_) {
        std::cerr << "quellora run said:\n" << quellora_->output() << quellora_->errors();
    }
    std::cerr << '\n' << where() << '\n';
}

TEST(QuelloraChaos, EveryPlayIsHeardCompressedThroughAHostileSchedule) {
    const auto settings = ChaosSettings::fromEnvironment();
    std::optional<Chaos> chaos;
    try {
        chaos.emplace(settings);
        chaos->run();
    } catch (const std::exception& error) {
        ADD_FAILURE() << error.what() << "; seed " << settings.seed;
        if (chaos) {
            chaos->describeRun();
        }
    }
}

} // namespace
} // namespace quellora::integration
