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

// A null sink: a virtual device that plays into nothing, whose monitor the
// tests record.
struct NullSink {
    std::string name;                // node.name, also what pw-play/pw-record target
    std::string description;         // node.description
    std::string positions = "FL FR"; // its channels
};

// The ways applications reach the server: PipeWire's own API (pw-play), the
// PulseAudio API through pipewire-pulse (paplay), ALSA through pipewire-alsa
// (aplay).
enum class AudioClient { native, pulse, alsa };
const char* clientName(AudioClient client);

// How the user picks the default output: the metadata the settings write,
// pactl set-default-sink, or wpctl set-default.
enum class DefaultSinkTool { metadata, pactl, wpctl };

// The virtual sinks desktops put between applications and a device (an
// equaliser, a speaker DSP, echo cancellation for calls, one sink that plays
// on several outputs): each takes what applications play and plays it, with
// a stream of its own, on the device it is aimed at.
enum class VirtualSinkKind { loopback, filterChain, combine, echoCancel };
const char* kindName(VirtualSinkKind kind);

class PrivatePipeWireSession;

// A virtual sink on the server until the handle goes or destroy() is called.
class VirtualSink {
public:
    VirtualSink(VirtualSink&& other) noexcept;
    VirtualSink& operator=(VirtualSink&&) = delete;
    ~VirtualSink();

    const std::string& name() const { return name_; } // its sink node
    // The stream that plays what it receives on its device.
    const std::string& playbackNodeName() const { return playback_; }
    // Removes it, as closing the effects application or unloading the module
    // does, and waits until its sink has gone.
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

    // The player's stream node, unique to this playback.
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
    Recording(ChildProcess recorder, std::filesystem::path file, std::string nodeName, int rate,
              int channels)
        : recorder_(std::move(recorder))
        , file_(std::move(file))
        , nodeName_(std::move(nodeName))
        , rate_(rate)
        , channels_(channels) {}

    const std::string& nodeName() const { return nodeName_; }
    const std::filesystem::path& file() const { return file_; }
    // Watches the file until its first audio arrives and works out when its
    // first frame was recorded, to within about one cycle of the server;
    // nothing after `timeout`.
    std::optional<std::chrono::steady_clock::time_point> waitForFirstFrame(milliseconds timeout);
    // Waits until at least `seconds` of audio have reached the file; false
    // after `timeout`. The recording goes on.
    bool waitForSeconds(double seconds, milliseconds timeout);
    // Ends the recording (the recorder finishes the file) and reads it back.
    AudioClip stop();

private:
    ChildProcess recorder_;
    std::filesystem::path file_;
    std::string nodeName_;
    int rate_;
    int channels_;
};

// A PipeWire server of the tests' own: a temporary XDG_RUNTIME_DIR (0700)
// holding a session D-Bus, `pipewire`, `wireplumber` and `pipewire-pulse`
// (the PulseAudio clients' server), with null sinks
// "speakers" (the default) and "headphones". While it exists, the test
// process's environment points there (XDG_RUNTIME_DIR, PIPEWIRE_RUNTIME_DIR,
// DBUS_SESSION_BUS_ADDRESS; XDG_CONFIG_HOME and XDG_STATE_HOME too, so that
// neither WirePlumber nor Quellora touch the user's settings), so code under
// test, in this process or started from it, connects to this server only.
// The user's own server, if any, is never seen.
//
// One session per process at a time. Everything is torn down by the
// destructor, by an exit handler if the process exits without it, and the
// daemons die with the process even when it crashes. Operations that fail
// throw std::runtime_error with the command's output.
class PrivatePipeWireSession {
public:
    struct Options {
        // Off: only the runtime folder and D-Bus, for tests that start the
        // audio server later with startAudioServer().
        bool startAudioServer = true;
        std::vector<NullSink> sinks{{"speakers", "Speakers"}, {"headphones", "Headphones"}};
        std::string defaultSink = "speakers";
        milliseconds startTimeout{20000};
    };

    PrivatePipeWireSession();
    explicit PrivatePipeWireSession(Options options);
    ~PrivatePipeWireSession();
    PrivatePipeWireSession(const PrivatePipeWireSession&) = delete;
    PrivatePipeWireSession& operator=(const PrivatePipeWireSession&) = delete;

    const std::filesystem::path& runtimeDirectory() const { return root_; }
    // A path for a test's own files inside the session folder.
    std::filesystem::path file(std::string_view name) const;

    // The server itself. startAudioServer returns once PipeWire answers,
    // WirePlumber has published the default metadata, pipewire-pulse
    // answers, the sinks exist and the default sink is set. stopAudioServer
    // ends the daemons (SIGTERM).
    void startAudioServer();
    void stopAudioServer();
    bool isAudioServerRunning();
    // What `systemctl --user restart pipewire` does: every daemon stops and
    // starts again; the null sinks are made again, as devices would be.
    void restartAudioServer();
    // The session manager alone, as a crash or an upgrade of it does, with
    // the devices it owns, whose nodes go and come back with it (the null
    // sinks stand in for them). Returns once it has published the default
    // sink again.
    void restartSessionManager();

    // The graph.
    GraphSnapshot graph() const;
    std::optional<std::uint32_t> findNodeId(std::string_view nodeName) const;
    // Throws when there is no such node.
    std::uint32_t nodeId(std::string_view nodeName) const;
    // Polls the graph until `condition` holds; the last snapshot is kept in
    // `last` if given, for the failure message.
    bool waitForGraph(const std::function<bool(const GraphSnapshot&)>& condition,
                      milliseconds timeout, GraphSnapshot* last = nullptr) const;
    void createNullSink(const NullSink& sink);
    // Removes a node, as unplugging a device would.
    void destroyNode(std::string_view nodeName);
    // Links two ports by hand ("node:port"), as pw-link does; the session
    // manager leaves such links alone.
    void link(std::string_view outputPort, std::string_view inputPort);

    // The default sink as WirePlumber resolved it ("default.audio.sink").
    std::string defaultSink() const;
    // Makes `nodeName` the user's configured default and waits until
    // WirePlumber has applied it.
    void setDefaultSink(std::string_view nodeName,
                        DefaultSinkTool tool = DefaultSinkTool::metadata);
    // Sends a playing stream to a sink as a mixer does (pactl move-sink-input).
    void moveStream(std::string_view streamNodeName, std::string_view sinkName);
    // A virtual sink `name` aimed at `target`, once its stream plays there.
    VirtualSink createVirtualSink(VirtualSinkKind kind, std::string_view name,
                                  std::string_view description, std::string_view target);
    // Runs the whole graph at `rate` (clock.force-rate), a running graph
    // included, as when the user changes the device's rate; 0 releases it.
    void forceSampleRate(int rate);
    // Runs the whole graph with `frames` per cycle (clock.force-quantum); 0 lets it choose.
    void forceQuantum(int frames);
    // A key of a metadata object (pw-metadata -n NAME), nothing if unset.
    std::optional<std::string> metadataValue(std::string_view metadataName,
                                             std::string_view key) const;

    // Plays a file with pw-play, on `targetSink` or, if empty, wherever the
    // session manager sends new streams (the default sink). `volume` is the
    // stream volume, linear; `channelMap` names the file's channels
    // ("FL,FR,FC,LFE,RL,RR"), when not pw-play's choice for their count.
    Playback play(const std::filesystem::path& file, std::string_view targetSink = {},
                  double volume = 1.0, std::string_view channelMap = {});
    // Writes `clip` to a file in the session folder and plays it.
    Playback play(const AudioClip& clip, std::string_view targetSink = {}, double volume = 1.0,
                  std::string_view channelMap = {});
    // Plays a clip through one of the client APIs, wherever the session
    // manager sends new streams, or on `device` as the client's device
    // option asks for it (pw-play --target, paplay --device, ALSA clients
    // through PIPEWIRE_NODE).
    Playback play(const AudioClip& clip, AudioClient client, std::string_view device = {});
    // The same as an application that calls itself `applicationName` and
    // gives its stream `mediaRole`, if any (native or PulseAudio clients).
    Playback playAs(const AudioClip& clip, AudioClient client, std::string_view applicationName,
                    std::string_view mediaRole = {});
    // Records what `sinkName` plays (its monitor) until stopped, in the
    // channels `channelMap` names, if given.
    Recording startRecording(std::string_view sinkName, int sampleRate = 48000, int channels = 2,
                             std::string_view channelMap = {});
    // Records like startRecording but over passive links, which do not keep
    // the sink running: it still idles when nothing else plays into it.
    Recording startPassiveRecording(std::string_view sinkName);
    // Records `seconds` of the monitor of `sinkName` and returns them.
    AudioClip record(std::string_view sinkName, double seconds, int sampleRate = 48000);

    // The daemons' logs, for failure messages.
    std::string daemonLogs() const;

private:
    struct Daemons;

    // Stops the daemons, restores the environment and removes the folder;
    // runs once, from the destructor or the exit handler.
    void tearDown();
    void startBus();
    void startSessionManager();
    void waitForServerAnswer();
    void waitForDefaultMetadata();
    void waitForPulseServer();
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

// A gtest fixture with one private session per test suite, shared by the
// suite's tests (under CTest every test runs in a process of its own, so
// each gets a fresh session). Each test starts with the default sink back on
// "speakers" and no forced rate; Playback and Recording handles end their
// streams when they go. A failing test prints the daemons' logs and the graph.
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
