#include "private_pipewire_session.h"

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace quellora::integration {
namespace {

namespace fs = std::filesystem;

constexpr milliseconds graphTimeout(10000);
// WirePlumber publishes its metadata within a second; one that has not after
// this never will, and is started again.
constexpr milliseconds metadataTimeout(8000);

// The variables that decide which server, bus and settings a program uses.
constexpr const char* sessionVariables[] = {
    "XDG_RUNTIME_DIR", "PIPEWIRE_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS",
    "XDG_CONFIG_HOME", "XDG_STATE_HOME",       "PIPEWIRE_REMOTE",
    "PULSE_SERVER"};

PrivatePipeWireSession* liveSession = nullptr;

std::string readTail(const fs::path& path, std::size_t limit) {
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    auto all = std::move(text).str();
    return all.size() > limit ? "..." + all.substr(all.size() - limit) : all;
}

// Whether a probe of a daemon that is starting answers at once, and says
// `expected`; a probe that hangs (the daemon is not ready) counts as no.
bool succeedsSoon(const std::vector<std::string>& command, std::string_view expected = {}) {
    try {
        const auto result = runCommand(command, milliseconds(2000));
        return expected.empty() ? result.exitStatus == 0
                                : result.output.find(expected) != std::string::npos;
    } catch (const std::runtime_error&) {
        return false;
    }
}

// pw-cli and pw-metadata now and then never hear back while a session
// manager starts (PipeWire 0.3.65 with WirePlumber 0.4), though the server
// answers every new client. Such a call is given up after a few seconds and
// made again, unless `done` says the first one did its work.
std::string runPatiently(const std::vector<std::string>& command,
                         const std::function<bool()>& done = {}) {
    constexpr int attempts = 3;
    for (int attempt = 1;; ++attempt) {
        try {
            return runChecked(command, milliseconds(3000));
        } catch (const CommandTimedOut& timedOut) {
            if (attempt == attempts) {
                throw;
            }
            std::cerr << timedOut.what() << "; again\n";
            if (done && done()) {
                return {};
            }
        }
    }
}

std::string nodeProperties(const NullSink& sink) {
    return "{ factory.name=support.null-audio-sink node.name=\"" + sink.name +
           "\" node.description=\"" + sink.description +
           "\" media.class=Audio/Sink object.linger=true audio.position=[ " + sink.positions +
           " ] }";
}

} // namespace

struct PrivatePipeWireSession::Daemons {
    std::optional<ChildProcess> bus;
    std::optional<ChildProcess> pipewire;
    std::optional<ChildProcess> wireplumber;
    std::optional<ChildProcess> pulse;
};

const char* clientName(AudioClient client) {
    constexpr const char* names[] = {"native", "pulse", "alsa"};
    return names[static_cast<int>(client)];
}

PrivatePipeWireSession::PrivatePipeWireSession()
    : PrivatePipeWireSession(Options{}) {}

PrivatePipeWireSession::PrivatePipeWireSession(Options options)
    : options_(std::move(options))
    , daemons_(std::make_unique<Daemons>()) {
    if (liveSession != nullptr) {
        throw std::logic_error("only one private PipeWire session at a time");
    }
    std::string pattern = (fs::temp_directory_path() / "quellora-pipewire-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a runtime folder in " +
                                 fs::temp_directory_path().string());
    }
    root_ = pattern; // mkdtemp makes it 0700, as XDG_RUNTIME_DIR must be
    liveSession = this;
    // A test that calls exit() skips destructors; the folder and the daemons
    // still go.
    static const int exitGuard = std::atexit([] {
        if (liveSession != nullptr) {
            liveSession->tearDown();
        }
    });
    (void)exitGuard;
    try {
        for (const char* folder : {"config", "state", "files"}) {
            fs::create_directory(root_ / folder);
        }
        exportEnvironment();
        startBus();
        if (options_.startAudioServer) {
            startAudioServer();
        }
    } catch (...) {
        tearDown();
        throw;
    }
}

PrivatePipeWireSession::~PrivatePipeWireSession() {
    tearDown();
}

void PrivatePipeWireSession::tearDown() {
    if (liveSession != this) {
        return; // already torn down
    }
    stopAudioServer();
    daemons_->bus.reset();
    restoreEnvironment();
    std::error_code ignored;
    // QUELLORA_TEST_LOGS=<folder> keeps every session's daemon logs there, whole.
    if (const char* keep = std::getenv("QUELLORA_TEST_LOGS")) {
        const auto folder = fs::path(keep) / root_.filename();
        fs::create_directories(folder, ignored);
        for (const auto& entry : fs::directory_iterator(root_, ignored)) {
            if (entry.path().extension() == ".log") {
                fs::copy_file(entry.path(), folder / entry.path().filename(),
                              fs::copy_options::overwrite_existing, ignored);
            }
        }
    }
    fs::remove_all(root_, ignored);
    liveSession = nullptr;
}

fs::path PrivatePipeWireSession::file(std::string_view name) const {
    return root_ / "files" / name;
}

void PrivatePipeWireSession::exportEnvironment() {
    for (const char* name : sessionVariables) {
        const char* value = std::getenv(name);
        savedEnvironment_[name] =
            value != nullptr ? std::optional<std::string>(value) : std::nullopt;
        ::unsetenv(name);
    }
    ::setenv("XDG_RUNTIME_DIR", root_.c_str(), 1);
    ::setenv("PIPEWIRE_RUNTIME_DIR", root_.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (root_ / "state").c_str(), 1);
}

void PrivatePipeWireSession::restoreEnvironment() {
    for (const auto& [name, value] : savedEnvironment_) {
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }
    savedEnvironment_.clear();
}

void PrivatePipeWireSession::startBus() {
    const auto address = "unix:path=" + (root_ / "bus").string();
    // --nofork keeps the bus a direct child, so it dies with this process.
    daemons_->bus = ChildProcess::start(
        {"dbus-daemon", "--session", "--nofork", "--address=" + address}, {root_ / "dbus.log", {}});
    waitForAnswer("dbus-daemon", *daemons_->bus, [&] { return fs::exists(root_ / "bus"); });
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
}

void PrivatePipeWireSession::startAudioServer() {
    if (daemons_->pipewire) {
        return;
    }
    daemons_->pipewire = ChildProcess::start({"pipewire"}, {root_ / "pipewire.log", {}});
    waitForAnswer("pipewire", *daemons_->pipewire, [] {
        return succeedsSoon({"pw-cli", "info", "0"});
    });
    startSessionManager();
    daemons_->pulse = ChildProcess::start({"pipewire-pulse"}, {root_ / "pipewire-pulse.log", {}});
    // Not before its socket is there: a PulseAudio client makes the pulse
    // folder when it finds none, and pipewire-pulse 0.3.65 then refuses to
    // start because the folder exists.
    waitForAnswer("pipewire-pulse", *daemons_->pulse, [&] {
        return fs::exists(root_ / "pulse" / "native") && succeedsSoon({"pactl", "info"});
    });
    for (const auto& sink : options_.sinks) {
        createNullSink(sink);
    }
    setDefaultSink("speakers");
}

// WirePlumber 0.4 now and then starts without ever publishing its metadata;
// starting it again is what its service would do.
void PrivatePipeWireSession::startSessionManager() {
    constexpr int attempts = 3;
    for (int attempt = 1;; ++attempt) {
        daemons_->wireplumber =
            ChildProcess::start({"wireplumber"}, {root_ / "wireplumber.log", {}});
        try {
            waitForAnswer(
                "wireplumber", *daemons_->wireplumber,
                [] {
                    return succeedsSoon({"pw-metadata", "-n", "default"},
                                        "Found \"default\" metadata");
                },
                metadataTimeout);
            return;
        } catch (const std::runtime_error& error) {
            if (attempt == attempts) {
                throw;
            }
            std::cerr << "starting wireplumber again: " << error.what() << '\n';
            daemons_->wireplumber.reset();
        }
    }
}

void PrivatePipeWireSession::stopAudioServer() {
    // The session manager first, so it does not react to the server going.
    daemons_->pulse.reset();
    daemons_->wireplumber.reset();
    daemons_->pipewire.reset();
}

void PrivatePipeWireSession::restartAudioServer() {
    stopAudioServer();
    startAudioServer();
}

void PrivatePipeWireSession::restartSessionManager() {
    daemons_->wireplumber.reset();
    for (const auto& sink : options_.sinks) {
        if (findNodeId(sink.name)) {
            destroyNode(sink.name);
        }
    }
    startSessionManager();
    // The devices come back once it runs, as its device monitors find them
    // again. (Nodes that appear while WirePlumber 0.4 is starting may never
    // be taken up, and then it links nothing at all.)
    for (const auto& sink : options_.sinks) {
        createNullSink(sink);
    }
    if (!waitUntil([&] { return !defaultSink().empty(); }, graphTimeout)) {
        throw std::runtime_error("wireplumber set no default sink after restarting: " +
                                 daemonLogs());
    }
}

void PrivatePipeWireSession::waitForAnswer(const char* name, ChildProcess& daemon,
                                           const std::function<bool()>& answers,
                                           milliseconds timeout) {
    const bool answered = waitUntil(
        [&] {
            if (!daemon.isRunning()) {
                throw std::runtime_error(std::string(name) + " exited: " + daemonLogs());
            }
            return answers();
        },
        timeout);
    if (!answered) {
        throw std::runtime_error(std::string(name) + " did not answer: " + daemonLogs());
    }
}

GraphSnapshot PrivatePipeWireSession::graph() const {
    return GraphSnapshot::fromDump(runPatiently({"pw-dump"}));
}

std::optional<std::uint32_t> PrivatePipeWireSession::findNodeId(std::string_view nodeName) const {
    const auto snapshot = graph();
    if (const auto* node = snapshot.node(nodeName)) {
        return node->id;
    }
    return std::nullopt;
}

std::uint32_t PrivatePipeWireSession::nodeId(std::string_view nodeName) const {
    if (const auto id = findNodeId(nodeName)) {
        return *id;
    }
    throw std::runtime_error("no node named \"" + std::string(nodeName) + "\"");
}

bool PrivatePipeWireSession::waitForGraph(
    const std::function<bool(const GraphSnapshot&)>& condition, milliseconds timeout,
    GraphSnapshot* last) const {
    GraphSnapshot snapshot;
    const bool held = waitUntil(
        [&] {
            snapshot = graph();
            return condition(snapshot);
        },
        timeout);
    if (last != nullptr) {
        *last = std::move(snapshot);
    }
    return held;
}

void PrivatePipeWireSession::createNullSink(const NullSink& sink) {
    // Without pw-cli's monitor mode the command returns once the node is
    // made; object.linger keeps it after pw-cli disconnects.
    runPatiently({"pw-cli", "create-node", "adapter", nodeProperties(sink)},
                 [&] { return findNodeId(sink.name).has_value(); });
    GraphSnapshot last;
    if (!waitForGraph([&](const GraphSnapshot& g) { return g.node(sink.name) != nullptr; },
                      graphTimeout, &last)) {
        throw std::runtime_error("the sink \"" + sink.name + "\" did not appear:\n" +
                                 last.describe());
    }
}

void PrivatePipeWireSession::destroyNode(std::string_view nodeName) {
    runPatiently({"pw-cli", "destroy", std::to_string(nodeId(nodeName))},
                 [&] { return !findNodeId(nodeName).has_value(); });
    if (!waitForGraph([&](const GraphSnapshot& g) { return g.node(nodeName) == nullptr; },
                      graphTimeout)) {
        throw std::runtime_error("the node \"" + std::string(nodeName) + "\" stayed");
    }
}

std::optional<std::string> PrivatePipeWireSession::metadataValue(std::string_view metadataName,
                                                                 std::string_view key) const {
    // Lines read: update: id:0 key:'KEY' value:'VALUE' type:'TYPE'
    const auto listing = runPatiently({"pw-metadata", "-n", std::string(metadataName)});
    const auto marker = "key:'" + std::string(key) + "' value:'";
    const auto start = listing.find(marker);
    if (start == std::string::npos) {
        return std::nullopt;
    }
    const auto valueStart = start + marker.size();
    const auto valueEnd = listing.find("' type:", valueStart);
    return listing.substr(valueStart, valueEnd - valueStart);
}

std::string PrivatePipeWireSession::defaultSink() const {
    const auto value = metadataValue("default", "default.audio.sink");
    if (!value) {
        return {};
    }
    const auto json = nlohmann::json::parse(*value, nullptr, false);
    return json.is_object() ? json.value("name", "") : "";
}

void PrivatePipeWireSession::setDefaultSink(std::string_view nodeName, DefaultSinkTool tool) {
    switch (tool) {
    case DefaultSinkTool::metadata:
        runPatiently({"pw-metadata", "0", "default.configured.audio.sink",
                      nlohmann::json{{"name", nodeName}}.dump(), "Spa:String:JSON"});
        break;
    case DefaultSinkTool::pactl:
        runChecked({"pactl", "set-default-sink", std::string(nodeName)});
        break;
    case DefaultSinkTool::wpctl:
        runPatiently({"wpctl", "set-default", std::to_string(nodeId(nodeName))});
        break;
    }
    if (!waitUntil([&] { return defaultSink() == nodeName; }, graphTimeout)) {
        throw std::runtime_error("wireplumber did not make \"" + std::string(nodeName) +
                                 "\" the default sink; it is \"" + defaultSink() + "\"");
    }
}

void PrivatePipeWireSession::moveStream(std::string_view streamNodeName,
                                        std::string_view sinkName) {
    // pipewire-pulse numbers sink inputs by their node's serial.
    const auto snapshot = graph();
    const auto* stream = snapshot.node(streamNodeName);
    const auto serial = stream ? stream->property("object.serial") : std::nullopt;
    if (!serial) {
        throw std::runtime_error("no stream named \"" + std::string(streamNodeName) + "\"");
    }
    // pipewire-pulse 0.3.65 may answer a move and drop its metadata writes
    // when pactl hangs up at once (a mixer that stays connected never meets
    // this): the move is made again until the stream's target is written.
    auto monitor = ChildProcess::start({"stdbuf", "-oL", "pw-metadata", "-m", "-n", "default"});
    if (!monitor.waitForOutput("key:'default.audio.sink'", graphTimeout)) {
        throw std::runtime_error("pw-metadata -m did not list the default metadata");
    }
    const auto written = "update: id:" + std::to_string(stream->id) + " key:'target.node'";
    constexpr int attempts = 3;
    for (int attempt = 1;; ++attempt) {
        const auto from = monitor.output().size();
        runChecked({"pactl", "move-sink-input", *serial, std::string(sinkName)});
        if (waitUntil([&] { return monitor.output().find(written, from) != std::string::npos; },
                      milliseconds(1000))) {
            return;
        }
        if (attempt == attempts) {
            throw std::runtime_error("pipewire-pulse did not move \"" +
                                     std::string(streamNodeName) + "\"");
        }
        std::cerr << "pipewire-pulse did not move " << streamNodeName << "; again\n";
    }
}

void PrivatePipeWireSession::forceSampleRate(int rate) {
    runChecked({"pw-metadata", "-n", "settings", "0", "clock.force-rate", std::to_string(rate)});
}

void PrivatePipeWireSession::forceQuantum(int frames) {
    runChecked(
        {"pw-metadata", "-n", "settings", "0", "clock.force-quantum", std::to_string(frames)});
}

std::string PrivatePipeWireSession::uniqueName(std::string_view prefix) {
    return std::string(prefix) + std::to_string(nextName_++);
}

Playback PrivatePipeWireSession::play(const AudioClip& clip, std::string_view targetSink,
                                      double volume, std::string_view channelMap) {
    const auto path = writeClip(clip);
    auto nodeName = uniqueName("quellora-test-play-");
    std::vector<std::string> command{"pw-play", "--volume", std::to_string(volume), "-P",
                                     "{ node.name=" + nodeName + " }"};
    if (!targetSink.empty()) {
        command.insert(command.end(), {"--target", std::string(targetSink)});
    }
    if (!channelMap.empty()) {
        command.insert(command.end(), {"--channel-map", std::string(channelMap)});
    }
    command.push_back(path.string());
    return Playback(ChildProcess::start(command), std::move(nodeName));
}

fs::path PrivatePipeWireSession::writeClip(const AudioClip& clip) {
    auto path = file(uniqueName("clip-") + ".wav");
    writeWav(path, clip);
    return path;
}

Playback PrivatePipeWireSession::playAs(const AudioClip& clip, AudioClient client,
                                        std::string_view applicationName,
                                        std::string_view mediaRole) {
    if (client == AudioClient::alsa) {
        throw std::invalid_argument("ALSA clients name no application of their own here");
    }
    const auto path = writeClip(clip);
    auto nodeName = uniqueName(std::string("quellora-test-") + clientName(client) + "-");
    std::vector<std::string> command;
    if (client == AudioClient::pulse) {
        command = {"paplay", "--client-name=" + std::string(applicationName),
                   "--property=node.name=" + nodeName};
        if (!mediaRole.empty()) {
            command.push_back("--property=media.role=" + std::string(mediaRole));
        }
    } else {
        command = {"pw-play", "-P",
                   "{ node.name=" + nodeName + " application.name=\"" +
                       std::string(applicationName) + "\" }"};
        // pw-play gives every stream its own role (Music) over one in -P.
        if (!mediaRole.empty()) {
            command.push_back("--media-role=" + std::string(mediaRole));
        }
    }
    command.push_back(path.string());
    return Playback(ChildProcess::start(command), std::move(nodeName));
}

Playback PrivatePipeWireSession::play(const AudioClip& clip, AudioClient client,
                                      std::string_view device) {
    if (client == AudioClient::native) {
        return play(clip, device);
    }
    const auto path = writeClip(clip);
    auto nodeName = uniqueName(std::string("quellora-test-") + clientName(client) + "-");
    // Both pass these through to the stream's node.
    auto command =
        client == AudioClient::pulse
            ? std::vector<std::string>{"paplay", "--property=node.name=" + nodeName}
            : std::vector<std::string>{"env", "PIPEWIRE_PROPS={ node.name=" + nodeName + " }",
                                       "PIPEWIRE_NODE=" + std::string(device), "aplay", "-q"};
    if (client == AudioClient::pulse && !device.empty()) {
        command.push_back("--device=" + std::string(device));
    }
    command.push_back(path.string());
    return Playback(ChildProcess::start(command), std::move(nodeName));
}

const char* kindName(VirtualSinkKind kind) {
    constexpr const char* names[] = {"loopback", "filterChain", "combine", "echoCancel"};
    return names[static_cast<int>(kind)];
}

VirtualSink PrivatePipeWireSession::createVirtualSink(VirtualSinkKind kind, std::string_view name,
                                                      std::string_view description,
                                                      std::string_view target) {
    VirtualSink sink;
    sink.session_ = this;
    sink.name_ = name;
    const std::string sinkName(name);
    const std::string quoted = "\"" + std::string(description) + "\"";
    switch (kind) {
    case VirtualSinkKind::loopback:
        sink.process_ =
            ChildProcess::start({"pw-loopback", "-n", sinkName,
                                 "--capture-props=media.class=Audio/Sink node.name=" + sinkName +
                                     " node.description=" + quoted,
                                 "--playback-props=node.name=" + sinkName +
                                     ".playback target.object=" + std::string(target)},
                                {root_ / (sinkName + ".log"), {}});
        break;
    case VirtualSinkKind::filterChain: {
        // What a DSP configuration runs as a process of its own, with a
        // graph that passes its input on (a mixer of one input at unity
        // gain: a graph of copy nodes alone plays silence on PipeWire
        // 0.3.65). Only the routing is under test.
        const auto config = file(sinkName + ".conf");
        std::ofstream(config)
            << R"(context.spa-libs = { audio.convert.* = audioconvert/libspa-audioconvert
                    support.* = support/libspa-support }
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-filter-chain
      args = { node.description = )" +
                   quoted + R"(
               filter.graph = {
                   nodes = [ { type = builtin name = left label = mixer }
                             { type = builtin name = right label = mixer } ]
                   inputs = [ "left:In 1" "right:In 1" ] outputs = [ "left:Out" "right:Out" ] }
               audio.channels = 2 audio.position = [ FL FR ]
               capture.props = { node.name = ")" +
                   sinkName + R"(" media.class = Audio/Sink }
               playback.props = { node.name = ")" +
                   sinkName + R"(.playback"
                                  node.passive = true target.object = ")" +
                   std::string(target) + R"(" } } }
]
)";
        sink.process_ = ChildProcess::start({"pipewire", "-c", config.string()},
                                            {root_ / (sinkName + ".log"), {}});
        break;
    }
    case VirtualSinkKind::combine:
        sink.module_ = runChecked({"pactl", "load-module", "module-combine-sink",
                                   "sink_name=" + sinkName, "slaves=" + std::string(target),
                                   "sink_properties=node.description=" + quoted});
        break;
    case VirtualSinkKind::echoCancel:
        // Echo cancellation runs only with a microphone to clean.
        sink.source_ = sinkName + ".microphone";
        runPatiently({"pw-cli", "create-node", "adapter",
                      "{ factory.name=support.null-audio-sink node.name=\"" + sink.source_ +
                          "\" media.class=Audio/Source/Virtual object.linger=true "
                          "audio.position=[ FL FR ] }"},
                     [&] { return findNodeId(sink.source_).has_value(); });
        sink.module_ = runChecked(
            {"pactl", "load-module", "module-echo-cancel", "sink_name=" + sinkName,
             "source_name=" + sinkName + ".source", "source_master=" + sink.source_,
             "sink_master=" + std::string(target), "sink_properties=node.description=" + quoted});
        break;
    }
    sink.module_.erase(sink.module_.find_last_not_of(" \n") + 1);
    // Ready once its own stream plays on the target.
    GraphSnapshot last;
    const bool ready = waitForGraph(
        [&](const GraphSnapshot& g) {
            const auto* node = g.node(sinkName);
            const auto group = node ? node->property("node.link-group") : std::nullopt;
            for (const auto& candidate : g.nodesOfClass("Stream/Output/Audio")) {
                if (group && candidate->property("node.link-group") == group &&
                    g.isLinked(candidate->name, target)) {
                    sink.playback_ = candidate->name;
                    return true;
                }
            }
            return false;
        },
        graphTimeout, &last);
    if (!ready) {
        throw std::runtime_error(std::string("the ") + kindName(kind) + " sink \"" + sinkName +
                                 "\" did not play on " + std::string(target) + ":\n" +
                                 last.describe() + daemonLogs());
    }
    return sink;
}

VirtualSink::VirtualSink(VirtualSink&& other) noexcept
    : session_(std::exchange(other.session_, nullptr))
    , name_(std::move(other.name_))
    , playback_(std::move(other.playback_))
    , process_(std::move(other.process_))
    , module_(std::move(other.module_))
    , source_(std::move(other.source_)) {}

VirtualSink::~VirtualSink() {
    try {
        destroy();
    } catch (const std::exception& error) {
        std::cerr << "removing the virtual sink " << name_ << ": " << error.what() << '\n';
    }
}

void VirtualSink::destroy() {
    if (!session_) {
        return;
    }
    auto* session = std::exchange(session_, nullptr);
    process_.reset();
    if (!module_.empty()) {
        runChecked({"pactl", "unload-module", module_});
    }
    if (!source_.empty() && session->findNodeId(source_)) {
        session->destroyNode(source_);
    }
    if (!session->waitForGraph([&](const GraphSnapshot& g) { return g.node(name_) == nullptr; },
                               graphTimeout)) {
        throw std::runtime_error("the virtual sink \"" + name_ + "\" stayed");
    }
}

Recording PrivatePipeWireSession::startRecording(std::string_view sinkName, int sampleRate,
                                                 int channels, std::string_view channelMap) {
    return startRecordingWith(sinkName, sampleRate, channels, channelMap, "");
}

Recording PrivatePipeWireSession::startPassiveRecording(std::string_view sinkName) {
    return startRecordingWith(sinkName, 48000, 2, "", " node.passive=true");
}

Recording PrivatePipeWireSession::startRecordingWith(std::string_view sinkName, int sampleRate,
                                                     int channels, std::string_view channelMap,
                                                     std::string_view extraProperties) {
    auto nodeName = uniqueName("quellora-test-record-");
    auto path = file(nodeName + ".wav");
    // stream.capture.sink: record what the sink plays (its monitor), not an input.
    const auto properties =
        "{ stream.capture.sink=true node.name=" + nodeName + std::string(extraProperties) + " }";
    std::vector<std::string> command{"pw-record",
                                     "--target",
                                     std::string(sinkName),
                                     "-P",
                                     properties,
                                     "--rate",
                                     std::to_string(sampleRate),
                                     "--channels",
                                     std::to_string(channels),
                                     "--format",
                                     "f32"};
    if (!channelMap.empty()) {
        command.insert(command.end(), {"--channel-map", std::string(channelMap)});
    }
    command.push_back(path.string());
    auto recorder = ChildProcess::start(command);
    return Recording(std::move(recorder), std::move(path), sampleRate, channels);
}

AudioClip PrivatePipeWireSession::record(std::string_view sinkName, double seconds,
                                         int sampleRate) {
    auto recording = startRecording(sinkName, sampleRate);
    const auto timeout = milliseconds(static_cast<std::int64_t>(seconds * 1000.0)) + graphTimeout;
    if (!recording.waitForSeconds(seconds, timeout)) {
        throw std::runtime_error("recording \"" + std::string(sinkName) + "\" got no audio");
    }
    return recording.stop().slice(0.0, seconds);
}

std::string PrivatePipeWireSession::daemonLogs() const {
    std::string logs;
    for (const char* name : {"dbus.log", "pipewire.log", "wireplumber.log", "pipewire-pulse.log"}) {
        logs += std::string("\n--- ") + name + "\n" + readTail(root_ / name, 4000);
    }
    return logs;
}

bool Recording::waitForSeconds(double seconds, milliseconds timeout) {
    // The file grows as audio arrives; the margin covers the WAV header.
    constexpr std::uintmax_t headerMargin = 4096;
    const auto wanted = static_cast<std::uintmax_t>(seconds * rate_) *
                            static_cast<std::uintmax_t>(channels_) * sizeof(float) +
                        headerMargin;
    return waitUntil(
        [&] {
            std::error_code error;
            const auto size = fs::file_size(file_, error);
            if (!recorder_.isRunning()) {
                throw std::runtime_error("pw-record exited: " + recorder_.errors());
            }
            return !error && size >= wanted;
        },
        timeout);
}

std::optional<std::chrono::steady_clock::time_point>
Recording::waitForFirstFrame(milliseconds timeout) {
    // The recorder writes the header when it opens the file, before any
    // audio; then whole cycles as they end.
    const auto bytesPerFrame = static_cast<std::uintmax_t>(channels_) * sizeof(float);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::optional<std::uintmax_t> headerBytes;
    while (std::chrono::steady_clock::now() < deadline) {
        std::error_code error;
        const auto size = fs::file_size(file_, error);
        const auto now = std::chrono::steady_clock::now();
        if (!error && !headerBytes) {
            headerBytes = size;
        } else if (!error && size > *headerBytes) {
            const auto frames = (size - *headerBytes) / bytesPerFrame;
            return now - std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                             std::chrono::duration<double>(static_cast<double>(frames) / rate_));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return std::nullopt;
}

AudioClip Recording::stop() {
    // On SIGINT the recorder finishes the file's header before it exits.
    recorder_.sendSignal(SIGINT);
    if (!recorder_.waitForExit(milliseconds(5000))) {
        recorder_.stop();
    }
    return readAudioFile(file_);
}

std::unique_ptr<PrivatePipeWireSession> PrivatePipeWireSessionTest::session_;
std::string PrivatePipeWireSessionTest::startFailure_;

void PrivatePipeWireSessionTest::SetUpTestSuite() {
    startFailure_.clear();
    try {
        session_ = std::make_unique<PrivatePipeWireSession>();
    } catch (const std::exception& error) {
        startFailure_ = error.what();
    }
}

void PrivatePipeWireSessionTest::TearDownTestSuite() {
    session_.reset();
}

void PrivatePipeWireSessionTest::SetUp() {
    ASSERT_TRUE(session_) << "the private PipeWire session did not start: " << startFailure_;
    if (session_->defaultSink() != "speakers") {
        session_->setDefaultSink("speakers");
    }
    if (session_->metadataValue("settings", "clock.force-rate").value_or("0") != "0") {
        session_->forceSampleRate(0);
    }
}

void PrivatePipeWireSessionTest::TearDown() {
    if (HasFailure() && session_) {
        std::cerr << "graph:\n" << session_->graph().describe() << session_->daemonLogs() << '\n';
    }
}

PrivatePipeWireSession& PrivatePipeWireSessionTest::session() {
    return *session_;
}

} // namespace quellora::integration
