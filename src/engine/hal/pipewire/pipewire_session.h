#pragma once

// A connection to the PipeWire server on a thread loop of its own, with a
// live mirror of the parts of its graph the adapter needs: nodes, ports,
// clients, devices, and the "default" and "settings" metadata.

#include "base/log.h"
#include "engine/hal/pipewire/pipewire_graph.h"

#include <pipewire/pipewire.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

struct pw_metadata;

namespace quellora::pipewire {

class Session {
public:
    // Both run on PipeWire's thread with the loop locked: `changed` after
    // every update of the mirror, `lost` when the server went away, with the
    // number of the connection it went away from. Throws std::system_error
    // when PipeWire cannot even make its loop and context.
    Session(std::function<void()> changed, std::function<void(std::uint64_t connection)> lost);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Holds the loop lock: required around every use of the mirror or of
    // PipeWire objects from another thread. Recursive.
    class Lock {
    public:
        explicit Lock(const Session& session);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pw_thread_loop* loop;
    };

    // Main thread. False when no server answers, or it went away while we
    // connected; nothing of the attempt is kept then.
    bool connect();
    // Main thread. Drops every proxy, the connection and the whole mirror.
    void disconnect();
    bool connected() const { return core_ != nullptr && !broken_; }
    // Counts connections made; with the lock held.
    std::uint64_t connectionNumber() const { return connectionNumber_; }

    // With the lock held.
    Graph& graph() { return graph_; }
    pw_core* core() { return core_; }
    AudioObjectID nextObjectId() { return nextObjectId_++; }
    // Asks the server for an answer unless one is awaited already; false
    // once one has been awaited longer than `patience`. A server that holds
    // our messages unread (PipeWire 0.3 can deadlock a client that binds the
    // session manager's metadata while the session manager waits on one of
    // that client's streams) answers nothing ever again. With the lock held.
    bool stillAnswering(std::chrono::milliseconds patience);
    // Waits until the server has handled everything sent so far.
    bool roundtrip(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));
    // Waits, releasing the lock meanwhile, until `ready` holds or time runs out.
    bool waitFor(const std::function<bool()>& ready, std::chrono::milliseconds timeout);
    // Asks the server to destroy an object of another client's (a link).
    void destroyGlobal(std::uint32_t id);
    // A property of the "default" metadata; nullopt value removes it. The
    // mirror takes the value at once, before the server echoes it, so that
    // what we wrote reads back as ours. False while no such metadata exists.
    bool setDefaultMetadata(std::uint32_t subject, const std::string& key,
                            const std::optional<std::string>& value);
    std::optional<std::string> defaultMetadata(std::uint32_t subject, const std::string& key) const;

private:
    struct Bound;
    static void onGlobal(void* data, std::uint32_t id, std::uint32_t permissions, const char* type,
                         std::uint32_t version, const spa_dict* props);
    static void onGlobalRemove(void* data, std::uint32_t id);
    static void onCoreDone(void* data, std::uint32_t id, int seq);
    static void onCoreError(void* data, std::uint32_t id, int seq, int res, const char* message);
    static void onNodeInfo(void* data, const pw_node_info* info);
    static void onClientInfo(void* data, const pw_client_info* info);
    static int onMetadataProperty(void* data, std::uint32_t subject, const char* key,
                                  const char* type, const char* value);

    void bindNode(std::uint32_t id);
    void bindClient(std::uint32_t id);
    void bindMetadata(std::uint32_t id, const std::string& name);
    void notifyChanged();

    Logger log_{"AudioEngine"};
    std::function<void()> changed_;
    std::function<void(std::uint64_t)> lost_;
    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_registry* registry_ = nullptr;
    spa_hook coreListener_{};
    spa_hook registryListener_{};
    std::map<std::uint32_t, std::unique_ptr<Bound>> bound_; // by global id
    pw_metadata* defaultMetadata_ = nullptr;
    std::map<std::pair<std::uint32_t, std::string>, std::string> defaultProperties_;
    Graph graph_;
    AudioObjectID nextObjectId_ = 100;
    int pendingSeq_ = -1;
    int answerSeq_ = -1;
    std::optional<std::chrono::steady_clock::time_point> askedAt_; // while an answer is awaited
    bool done_ = false;
    bool broken_ = false; // the server went away; waits end at once
    std::uint64_t connectionNumber_ = 0;
};

} // namespace quellora::pipewire
