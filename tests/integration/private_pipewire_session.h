#pragma once

#include "audio_clip.h"
#include "child_process.h"
#include "graph_snapshot.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quellora::integration {

// A virtual device that plays into nothing, whose monitor the tests record.
struct NullSink {
    std::string name; // node.name
    std::string description;
    std::string positions = "FL FR";
};

// How applications reach the server: pw-play, paplay (pipewire-pulse) or
// aplay (pipewire-alsa).
enum class AudioClient { native, pulse, alsa };
const char* clientName(AudioClient client);

enum class DefaultSinkTool { metadata, pactl, wpctl };

// The virtual sinks desktops put between applications and a device (an
// equaliser, a speaker DSP, echo cancellation, one sink on several outputs):
// each plays what it takes, with a stream of its own, on its target.
enum class VirtualSinkKind { loopback, filterChain, combine, echoCancel };
const char* kindName(VirtualSinkKind kind);

class PrivatePipeWireSession;

// A virtual sink on the server until the handle goes or destroy() is called.
class VirtualSink {
public:
    VirtualSink(VirtualSink&& other) noexcept;
    VirtualSink& operator=(VirtualSink&&) = delete;
    ~VirtualSink();

    const std::string& playbackNodeName() const { return playback_; }
    // Removes it and waits until its sink has gone.
    void destroy();

private:
    friend class PrivatePipeWireSession;
    VirtualSink() = default;

    PrivatePipeWireSession* session_ = nullptr;
    std::string name_;
    std::string playback_;
    std::optional<ChildProcess> process_; // loopback, filter-chain
    std::string module_;                  // pipewire-pulse's module index
    std::string source_;                  // the null source an echo canceller listens to
};

// A file playing on the server until it ends or the handle goes.
class Playback {
public:
    explicit Playback(ChildProcess player, std::string nodeName)
        : player_(std::move(player))
        , nodeName_(std::move(nodeName)) {}

    const std::string& nodeName() const { return nodeName_; }
    bool isPlaying() { return player_.isRunning(); }
    pid_t pid() const { return player_.pid(); }
    bool waitUntilFinished(milliseconds timeout) {
        return player_.waitForExit(timeout).has_value();
    }
    void stop() { player_.stop(); }

private:
    ChildProcess player_;
    std::string nodeName_;
};

// A recording of a sink's monitor into a WAV file, running until stopped.
class Recording {
public:
    Recording(ChildProcess recorder, std::filesystem::path file, int rate, int channels)
        : recorder_(std::move(recorder))
        , file_(std::move(file))
        , rate_(rate)
        , channels_(channels) {}

    // When its first frame was recorded, to within about one cycle of the
    // server; nothing after `timeout`.
    std::optional<std::chrono::steady_clock::time_point> waitForFirstFrame(milliseconds timeout);
    // Waits until at least `seconds` of audio have reached the file; false
    // after `timeout`. The recording goes on.
    bool waitForSeconds(double seconds, milliseconds timeout);
    // Ends the recording (the recorder finishes the file) and reads it back.
    AudioClip stop();

private:
    ChildProcess recorder_;
    std::filesystem::path file_;
    int rate_;
    int channels_;
};

// A PipeWire server of the tests' own: a temporary XDG_RUNTIME_DIR (0700)
// holding a session D-Bus, pipewire, wireplumber and pipewire-pulse, with
// null sinks "speakers" (the default) and "headphones". While it exists, the
// test process's environment (runtime, bus, config and state folders) points
// there, so code under test, here or started from here, sees this server
// and none of the user's settings.
//
// One session per process at a time. Torn down by the destructor or an exit
// handler; the daemons die with the process even when it crashes. Failures
// throw std::runtime_error with the command's output.
class PrivatePipeWireSession {
public:
    struct Options {
        // Off: only the runtime folder and D-Bus, until startAudioServer().
        bool startAudioServer = true;
        std::vector<NullSink> sinks{{"speakers", "Speakers"}, {"headphones", "Headphones"}};
    };

    PrivatePipeWireSession();
    explicit PrivatePipeWireSession(Options options);
    ~PrivatePipeWireSession();
    PrivatePipeWireSession(const PrivatePipeWireSession&) = delete;
    PrivatePipeWireSession& operator=(const PrivatePipeWireSession&) = delete;

    // A path for a test's own files inside the session folder.
    std::filesystem::path file(std::string_view name) const;

    // Returns once every daemon answers, the sinks exist and "speakers" is
    // the default.
    void startAudioServer();
    void stopAudioServer();
    // Every daemon stops and starts again; the sinks are made again.
    void restartAudioServer();
    // The session manager alone, with the devices' nodes it owns (the null
    // sinks stand in for them); returns once it set a default sink again.
    void restartSessionManager();

    GraphSnapshot graph() const;
    std::optional<std::uint32_t> findNodeId(std::string_view nodeName) const;
    // Polls the graph until `condition` holds; keeps the last snapshot in
    // `last`, if given, for the failure message.
    bool waitForGraph(const std::function<bool(const GraphSnapshot&)>& condition,
                      milliseconds timeout, GraphSnapshot* last = nullptr) const;
    void createNullSink(const NullSink& sink);
    // As unplugging a device does.
    void destroyNode(std::string_view nodeName);

    // The default sink as WirePlumber resolved it.
    std::string defaultSink() const;
    // Makes `nodeName` the configured default and waits until it applies.
    void setDefaultSink(std::string_view nodeName,
                        DefaultSinkTool tool = DefaultSinkTool::metadata);
    // As a mixer does (pactl move-sink-input).
    void moveStream(std::string_view streamNodeName, std::string_view sinkName);
    // A virtual sink `name` aimed at `target`, once its stream plays there.
    VirtualSink createVirtualSink(VirtualSinkKind kind, std::string_view name,
                                  std::string_view description, std::string_view target);
    // The whole graph at `rate` (clock.force-rate); 0 releases it.
    void forceSampleRate(int rate);
    // `frames` per cycle (clock.force-quantum); 0 lets the server choose.
    void forceQuantum(int frames);
    // A key of a metadata object, nothing if unset.
    std::optional<std::string> metadataValue(std::string_view metadataName,
                                             std::string_view key) const;

    // With pw-play, on `targetSink` or the default. `channelMap` names the
    // clip's channels ("FL,FR,FC,LFE,RL,RR") when not pw-play's choice.
    Playback play(const AudioClip& clip, std::string_view targetSink = {}, double volume = 1.0,
                  std::string_view channelMap = {});
    // Through a client API, on the default or on `device` as the client's
    // own device option asks for it.
    Playback play(const AudioClip& clip, AudioClient client, std::string_view device = {});
    // As an application named `applicationName`, with its stream's `mediaRole`
    // if any (native or PulseAudio clients).
    Playback playAs(const AudioClip& clip, AudioClient client, std::string_view applicationName,
                    std::string_view mediaRole = {});
    // Records the monitor of `sinkName` until stopped.
    Recording startRecording(std::string_view sinkName, int sampleRate = 48000, int channels = 2,
                             std::string_view channelMap = {});
    // Over passive links, which do not keep the sink running.
    Recording startPassiveRecording(std::string_view sinkName);
    AudioClip record(std::string_view sinkName, double seconds, int sampleRate = 48000);

    std::string daemonLogs() const;

private:
    struct Daemons;

    // Runs once, from the destructor or the exit handler.
    void tearDown();
    void startBus();
    void startSessionManager();
    // Until `answers`; throws with the logs if `daemon` exits first.
    void waitForAnswer(const char* name, ChildProcess& daemon, const std::function<bool()>& answers,
                       milliseconds timeout = milliseconds(20000));
    std::uint32_t nodeId(std::string_view nodeName) const;
    std::filesystem::path writeClip(const AudioClip& clip);
    std::string uniqueName(std::string_view prefix);
    Recording startRecordingWith(std::string_view sinkName, int sampleRate, int channels,
                                 std::string_view channelMap, std::string_view extraProperties);
    void exportEnvironment();
    void restoreEnvironment();

    Options options_;
    std::filesystem::path root_;
    std::map<std::string, std::optional<std::string>> savedEnvironment_;
    std::unique_ptr<Daemons> daemons_;
    int nextName_ = 1;
};

// One private session per test suite (under CTest, per test). Each test
// starts with "speakers" the default and no forced rate; a failing one
// prints the daemons' logs and the graph.
class PrivatePipeWireSessionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    static PrivatePipeWireSession& session();

private:
    static std::unique_ptr<PrivatePipeWireSession> session_;
    static std::string startFailure_;
};

} // namespace quellora::integration
