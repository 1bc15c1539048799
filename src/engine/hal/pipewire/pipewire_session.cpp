#include "engine/hal/pipewire/pipewire_session.h"

#include "base/utf8.h"

#include <pipewire/extensions/metadata.h>
#include <spa/utils/dict.h>
#include <spa/utils/result.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>

namespace quellora::pipewire {
namespace {

std::string property(const spa_dict* props, const char* key) {
    const char* value = props ? spa_dict_lookup(props, key) : nullptr;
    return value ? value : "";
}

std::uint32_t numberProperty(const spa_dict* props, const char* key) {
    const auto text = property(props, key);
    return text.empty() ? 0 : static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
}

// What an application says of itself in an object's properties. PulseAudio
// clients name their icon with an underscore. Names are made UTF-8 here, so
// that the ID the user sees (a binary's file name may be Latin-1) is the one
// a choice is stored and found by.
ApplicationProperties applicationProperties(const spa_dict* props) {
    ApplicationProperties application;
    application.name = validUtf8(property(props, PW_KEY_APP_NAME));
    application.binary = validUtf8(property(props, PW_KEY_APP_PROCESS_BINARY));
    application.iconName = property(props, PW_KEY_APP_ICON_NAME);
    if (application.iconName.empty()) {
        application.iconName = property(props, "application.icon_name");
    }
    application.mediaRole = property(props, PW_KEY_MEDIA_ROLE);
    application.api = property(props, PW_KEY_CLIENT_API);
    application.known = true;
    return application;
}

Properties propertiesOf(const spa_dict* props) {
    Properties properties;
    const spa_dict_item* item = nullptr;
    if (props) {
        spa_dict_for_each(item, props) {
            properties[item->key] = item->value ? item->value : "";
        }
    }
    return properties;
}

void initialisePipeWire() {
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

} // namespace

// A proxy this session bound to follow an object's changes.
struct Session::Bound {
    Session* session = nullptr;
    std::uint32_t id = 0;
    pw_proxy* proxy = nullptr;
    spa_hook listener{};
    std::string metadataName; // for metadata objects

    ~Bound() {
        spa_hook_remove(&listener);
        pw_proxy_destroy(proxy);
    }
};

Session::Lock::Lock(const Session& session)
    : loop(session.loop_) {
    pw_thread_loop_lock(loop);
}
Session::Lock::~Lock() {
    pw_thread_loop_unlock(loop);
}

Session::Session(std::function<void()> changed, std::function<void(std::uint64_t)> lost)
    : changed_(std::move(changed))
    , lost_(std::move(lost)) {
    initialisePipeWire();
    // Without a loop or a context nothing of PipeWire can work: no memory,
    // or a broken installation.
    errno = 0;
    loop_ = pw_thread_loop_new("quellora-pipewire", nullptr);
    if (!loop_) {
        throw std::system_error(errno != 0 ? errno : EIO, std::generic_category(),
                                "Cannot create PipeWire's thread loop");
    }
    context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
    const int contextError = errno != 0 ? errno : EIO;
    const int started = context_ ? pw_thread_loop_start(loop_) : 0;
    if (!context_ || started < 0) {
        if (context_) {
            pw_context_destroy(context_);
        }
        pw_thread_loop_destroy(loop_);
        throw std::system_error(context_ ? -started : contextError, std::generic_category(),
                                context_ ? "Cannot start PipeWire's thread loop"
                                         : "Cannot create a PipeWire context");
    }
}

Session::~Session() {
    disconnect();
    pw_thread_loop_stop(loop_);
    pw_context_destroy(context_);
    pw_thread_loop_destroy(loop_);
}

bool Session::connect() {
    const Lock lock(*this);
    if (core_ && !broken_) {
        return true;
    }
    disconnect(); // a connection the server dropped is of no use
    broken_ = false;
    ++connectionNumber_;
    core_ = pw_context_connect(context_,
                               pw_properties_new(PW_KEY_APP_NAME, "Quellora", PW_KEY_APP_ID,
                                                 "org.quellora.Quellora", nullptr),
                               0);
    if (!core_) {
        return false;
    }
    static const pw_core_events coreEvents = [] {
        pw_core_events events{};
        events.version = PW_VERSION_CORE_EVENTS;
        events.done = &Session::onCoreDone;
        events.error = &Session::onCoreError;
        return events;
    }();
    pw_core_add_listener(core_, &coreListener_, &coreEvents, this);
    registry_ = pw_core_get_registry(core_, PW_VERSION_REGISTRY, 0);
    static const pw_registry_events registryEvents = [] {
        pw_registry_events events{};
        events.version = PW_VERSION_REGISTRY_EVENTS;
        events.global = &Session::onGlobal;
        events.global_remove = &Session::onGlobalRemove;
        return events;
    }();
    pw_registry_add_listener(registry_, &registryListener_, &registryEvents, this);
    // Two round trips: the globals, then what binding them reported.
    if (!roundtrip() || !roundtrip()) {
        disconnect();
        return false;
    }
    return true;
}

void Session::disconnect() {
    const Lock lock(*this);
    if (!core_) {
        return;
    }
    bound_.clear();
    defaultMetadata_ = nullptr;
    defaultProperties_.clear();
    spa_hook_remove(&registryListener_);
    pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry_));
    registry_ = nullptr;
    spa_hook_remove(&coreListener_);
    pw_core_disconnect(core_);
    core_ = nullptr;
    broken_ = false;
    askedAt_.reset();
    graph_ = Graph{};
    pw_thread_loop_signal(loop_, false);
}

bool Session::waitFor(const std::function<bool()>& ready, std::chrono::milliseconds timeout) {
    timespec deadline{};
    if (pw_thread_loop_get_time(
            loop_, &deadline,
            std::chrono::duration_cast<std::chrono::nanoseconds>(timeout).count()) < 0) {
        return ready();
    }
    while (!ready()) {
        if (!core_ || broken_ || pw_thread_loop_timed_wait_full(loop_, &deadline) != 0) {
            return ready();
        }
    }
    return true;
}

void Session::destroyGlobal(std::uint32_t id) {
    if (connected()) {
        if (const int result = pw_registry_destroy(registry_, id); result < 0) {
            log_.error("pw_registry_destroy(%{public}u) failed: %{public}s (%{public}d)", id,
                       spa_strerror(result), result);
        }
    }
}

bool Session::roundtrip(std::chrono::milliseconds timeout) {
    if (!connected()) {
        return false;
    }
    done_ = false;
    pendingSeq_ = pw_core_sync(core_, PW_ID_CORE, 0);
    if (pendingSeq_ < 0) {
        log_.error("pw_core_sync failed: %{public}s (%{public}d)", spa_strerror(pendingSeq_),
                   pendingSeq_);
        return false;
    }
    return waitFor([this] { return done_; }, timeout);
}

bool Session::stillAnswering(std::chrono::milliseconds patience) {
    if (!connected()) {
        return true; // a lost connection is told of by the server's hang-up
    }
    const auto now = std::chrono::steady_clock::now();
    if (askedAt_) {
        return now - *askedAt_ <= patience;
    }
    answerSeq_ = pw_core_sync(core_, PW_ID_CORE, 0);
    if (answerSeq_ >= 0) {
        askedAt_ = now;
    }
    return true;
}

bool Session::setDefaultMetadata(std::uint32_t subject, const std::string& key,
                                 const std::optional<std::string>& value) {
    if (!defaultMetadata_ || broken_) {
        return false;
    }
    if (const int result = pw_metadata_set_property(defaultMetadata_, subject, key.c_str(),
                                                    value ? "Spa:String" : nullptr,
                                                    value ? value->c_str() : nullptr);
        result < 0) {
        log_.error("pw_metadata_set_property(%{public}s) failed: %{public}s (%{public}d)", key,
                   spa_strerror(result), result);
        return false;
    }
    if (value) {
        defaultProperties_[{subject, key}] = *value;
    } else {
        defaultProperties_.erase({subject, key});
    }
    return true;
}

std::optional<std::string> Session::defaultMetadata(std::uint32_t subject,
                                                    const std::string& key) const {
    const auto found = defaultProperties_.find({subject, key});
    return found == defaultProperties_.end() ? std::nullopt : std::optional(found->second);
}

void Session::notifyChanged() {
    if (changed_) {
        changed_();
    }
    pw_thread_loop_signal(loop_, false);
}

void Session::bindNode(std::uint32_t id) {
    auto bound = std::make_unique<Bound>();
    bound->session = this;
    bound->id = id;
    bound->proxy = static_cast<pw_proxy*>(
        pw_registry_bind(registry_, id, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, 0));
    if (!bound->proxy) {
        return;
    }
    static const pw_node_events nodeEvents = [] {
        pw_node_events events{};
        events.version = PW_VERSION_NODE_EVENTS;
        events.info = &Session::onNodeInfo;
        return events;
    }();
    pw_node_add_listener(reinterpret_cast<pw_node*>(bound->proxy), &bound->listener, &nodeEvents,
                         bound.get());
    bound_[id] = std::move(bound);
}

// The registry shows a client's name only; its binary, icon and API come
// with its info.
void Session::bindClient(std::uint32_t id) {
    auto bound = std::make_unique<Bound>();
    bound->session = this;
    bound->id = id;
    bound->proxy = static_cast<pw_proxy*>(
        pw_registry_bind(registry_, id, PW_TYPE_INTERFACE_Client, PW_VERSION_CLIENT, 0));
    if (!bound->proxy) {
        return;
    }
    static const pw_client_events clientEvents = [] {
        pw_client_events events{};
        events.version = PW_VERSION_CLIENT_EVENTS;
        events.info = &Session::onClientInfo;
        return events;
    }();
    pw_client_add_listener(reinterpret_cast<pw_client*>(bound->proxy), &bound->listener,
                           &clientEvents, bound.get());
    bound_[id] = std::move(bound);
}

void Session::bindMetadata(std::uint32_t id, const std::string& name) {
    auto bound = std::make_unique<Bound>();
    bound->session = this;
    bound->id = id;
    bound->metadataName = name;
    bound->proxy = static_cast<pw_proxy*>(
        pw_registry_bind(registry_, id, PW_TYPE_INTERFACE_Metadata, PW_VERSION_METADATA, 0));
    if (!bound->proxy) {
        return;
    }
    static const pw_metadata_events metadataEvents = [] {
        pw_metadata_events events{};
        events.version = PW_VERSION_METADATA_EVENTS;
        events.property = &Session::onMetadataProperty;
        return events;
    }();
    pw_metadata_add_listener(reinterpret_cast<pw_metadata*>(bound->proxy), &bound->listener,
                             &metadataEvents, bound.get());
    if (name == "default") {
        defaultMetadata_ = reinterpret_cast<pw_metadata*>(bound->proxy);
    }
    bound_[id] = std::move(bound);
}

void Session::onGlobal(void* data, std::uint32_t id, std::uint32_t, const char* type, std::uint32_t,
                       const spa_dict* props) {
    auto& self = *static_cast<Session*>(data);
    auto& graph = self.graph_;
    const std::string kind = type ? type : "";
    if (kind == PW_TYPE_INTERFACE_Node) {
        GraphNode node;
        node.globalId = id;
        node.objectId = self.nextObjectId();
        node.name = property(props, PW_KEY_NODE_NAME);
        node.serial = property(props, PW_KEY_OBJECT_SERIAL);
        node.mediaClass = property(props, PW_KEY_MEDIA_CLASS);
        node.clientId = numberProperty(props, PW_KEY_CLIENT_ID);
        node.deviceId = numberProperty(props, PW_KEY_DEVICE_ID);
        node.ownRole = ownRoleOf(node.name);
        node.priority = static_cast<int>(
            std::strtol(property(props, PW_KEY_PRIORITY_SESSION).c_str(), nullptr, 10));
        node.description = property(props, PW_KEY_NODE_DESCRIPTION);
        if (node.description.empty()) {
            node.description = property(props, PW_KEY_NODE_NICK);
        }
        // Every audio node's info, for the virtual devices its link group
        // ties it to; the state of sinks, streams and ours.
        const bool followState =
            node.mediaClass.find("Audio") != std::string::npos || !node.ownRole.empty();
        graph.nodes[id] = node;
        if (followState) {
            self.bindNode(id);
        }
    } else if (kind == PW_TYPE_INTERFACE_Port) {
        GraphPort port;
        port.globalId = id;
        port.nodeId = numberProperty(props, PW_KEY_NODE_ID);
        port.output = property(props, PW_KEY_PORT_DIRECTION) == "out";
        port.monitor = property(props, PW_KEY_PORT_MONITOR) == "true";
        port.name = property(props, PW_KEY_PORT_NAME);
        port.channel = property(props, PW_KEY_AUDIO_CHANNEL);
        port.index = numberProperty(props, PW_KEY_PORT_ID);
        graph.ports[id] = port;
    } else if (kind == PW_TYPE_INTERFACE_Link) {
        graph.links[id] = {numberProperty(props, PW_KEY_LINK_OUTPUT_NODE),
                           numberProperty(props, PW_KEY_LINK_INPUT_NODE),
                           numberProperty(props, PW_KEY_CLIENT_ID)};
    } else if (kind == PW_TYPE_INTERFACE_Client) {
        const auto pid = property(props, PW_KEY_SEC_PID);
        const auto name = property(props, PW_KEY_APP_NAME);
        graph.clients[id] = {id,
                             self.nextObjectId(),
                             pid.empty() ? -1 : std::atoi(pid.c_str()),
                             name == "WirePlumber" || name == "pipewire-media-session",
                             {}};
        self.bindClient(id);
    } else if (kind == PW_TYPE_INTERFACE_Device) {
        graph.devices[id] = {id, property(props, PW_KEY_DEVICE_API),
                             property(props, PW_KEY_DEVICE_BUS),
                             property(props, PW_KEY_DEVICE_FORM_FACTOR)};
    } else if (kind == PW_TYPE_INTERFACE_Metadata) {
        const auto name = property(props, PW_KEY_METADATA_NAME);
        if (name == "default" || name == "settings") {
            self.bindMetadata(id, name);
        }
    } else {
        return;
    }
    self.notifyChanged();
}

void Session::onGlobalRemove(void* data, std::uint32_t id) {
    auto& self = *static_cast<Session*>(data);
    auto& graph = self.graph_;
    const auto bound = self.bound_.find(id);
    if (bound != self.bound_.end()) {
        if (reinterpret_cast<pw_metadata*>(bound->second->proxy) == self.defaultMetadata_) {
            // The session manager went (or restarts): what it held of the
            // streams' targets goes with it. The default sink's names stay
            // until its successor says otherwise.
            self.defaultMetadata_ = nullptr;
            self.defaultProperties_.clear();
        }
        self.bound_.erase(bound);
    }
    // The server reuses ids: what the metadata said of the old object must
    // not be read as said of the next one.
    std::erase_if(self.defaultProperties_,
                  [id](const auto& entry) { return entry.first.first == id; });
    graph.nodes.erase(id);
    graph.ports.erase(id);
    graph.clients.erase(id);
    graph.devices.erase(id);
    graph.links.erase(id);
    self.notifyChanged();
}

void Session::onNodeInfo(void* data, const pw_node_info* info) {
    auto& bound = *static_cast<Bound*>(data);
    auto& self = *bound.session;
    const auto node = self.graph_.nodes.find(bound.id);
    const auto changes =
        info->change_mask & (PW_NODE_CHANGE_MASK_STATE | PW_NODE_CHANGE_MASK_PROPS);
    if (node == self.graph_.nodes.end() || changes == 0) {
        return;
    }
    if (info->change_mask & PW_NODE_CHANGE_MASK_STATE) {
        node->second.running = info->state == PW_NODE_STATE_RUNNING;
    }
    if (info->change_mask & PW_NODE_CHANGE_MASK_PROPS) {
        node->second.application = applicationProperties(info->props);
        node->second.origin = nodeOrigin(propertiesOf(info->props));
    }
    self.notifyChanged();
}

void Session::onClientInfo(void* data, const pw_client_info* info) {
    auto& bound = *static_cast<Bound*>(data);
    auto& self = *bound.session;
    const auto client = self.graph_.clients.find(bound.id);
    if (client == self.graph_.clients.end() || !(info->change_mask & PW_CLIENT_CHANGE_MASK_PROPS)) {
        return;
    }
    client->second.application = applicationProperties(info->props);
    self.notifyChanged();
}

int Session::onMetadataProperty(void* data, std::uint32_t subject, const char* key,
                                const char* type, const char* value) {
    (void)type;
    auto& bound = *static_cast<Bound*>(data);
    auto& self = *bound.session;
    const std::optional<std::string> newValue =
        value ? std::optional<std::string>(value) : std::nullopt;
    if (bound.metadataName == "settings") {
        if (subject == PW_ID_CORE && key) {
            self.graph_.clock.apply(key, newValue);
        }
    } else if (key == nullptr) {
        std::erase_if(self.defaultProperties_,
                      [&](const auto& entry) { return entry.first.first == subject; });
    } else {
        if (newValue) {
            self.defaultProperties_[{subject, key}] = *newValue;
        } else {
            self.defaultProperties_.erase({subject, key});
        }
        if (subject == PW_ID_CORE) {
            const std::string name = key;
            const auto nodeName = newValue ? defaultNodeName(*newValue) : std::nullopt;
            if (name == "default.audio.sink") {
                self.graph_.defaultSinkName = nodeName;
                const auto* node = nodeName ? self.graph_.nodeNamed(*nodeName) : nullptr;
                if (node && node->isSink()) {
                    self.graph_.userDefaultSinkName = nodeName;
                }
            } else if (name == "default.configured.audio.sink") {
                self.graph_.configuredSinkName = nodeName;
            }
        }
    }
    self.notifyChanged();
    return 0;
}

void Session::onCoreDone(void* data, std::uint32_t id, int seq) {
    auto& self = *static_cast<Session*>(data);
    if (id == PW_ID_CORE && seq == self.pendingSeq_) {
        self.done_ = true;
        pw_thread_loop_signal(self.loop_, false);
    }
    if (id == PW_ID_CORE && seq == self.answerSeq_) {
        self.askedAt_.reset();
    }
}

// The server refusing something we asked of it (a link it cannot make, a
// property it rejects) is said; only a lost connection is acted on.
void Session::onCoreError(void* data, std::uint32_t id, int seq, int res, const char* message) {
    auto& self = *static_cast<Session*>(data);
    if (id == PW_ID_CORE && res == -EPIPE) {
        self.broken_ = true;
        if (self.lost_) {
            self.lost_(self.connectionNumber_);
        }
    } else if (res == -ENOENT) {
        // An object that went while we asked something of it (a link the
        // session manager removed first): nothing is left to do.
        self.log_.info("PipeWire object %{public}u was gone (request %{public}d): %{public}s", id,
                       seq, message ? message : spa_strerror(res));
    } else {
        self.log_.error("PipeWire error on object %{public}u (request %{public}d): "
                        "%{public}s (%{public}d)",
                        id, seq, message ? message : spa_strerror(res), res);
    }
    pw_thread_loop_signal(self.loop_, false);
}

} // namespace quellora::pipewire
