#pragma once

#include "app/instance_control.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

struct sd_bus;
struct sd_bus_slot;

namespace quellora {

// One Quellora per session, on the session bus: owning the name
// org.quellora.Quellora makes an instance the one that processes, and the
// object /org/quellora/Quellora (interface org.quellora.Quellora) takes the
// commands of the command line and of a second launch. The tray application
// and `quellora run` both serve it through this class:
//   - the tray application takes the name from a `quellora run` that holds it
//     and keeps it; a second tray application finds it taken;
//   - `quellora run` lets the tray application take the name and waits in
//     the bus's queue for it, as it does behind another running instance;
//     the bus hands it the name when the holder quits.
// Main thread only; an event loop watches fileDescriptor() and calls
// process() (see runtime/session_bus_pump.h).
class SessionBusInstance {
public:
    SessionBusInstance(InstanceKind kind, InstanceController& controller);
    ~SessionBusInstance();
    SessionBusInstance(const SessionBusInstance&) = delete;
    SessionBusInstance& operator=(const SessionBusInstance&) = delete;

    enum class Claim {
        owned,         // this instance is the one
        queued,        // `quellora run` waits for the holder to quit
        heldByAnother, // a tray application holds it; it does not give it up
        noSessionBus,
    };
    // Connects, publishes the object, then asks for the name, so that the
    // first call a command makes already finds the object.
    Claim claim();
    bool ownsName() const { return ownsName_; }
    // After a claim: told when the name comes or goes (a tray application
    // took it, its holder quit).
    std::function<void(bool owned)> onOwnershipChanged;

    // Why there is no bus, after noSessionBus.
    const std::string& connectionError() const { return connectionError_; }

    // For the event loop: the connection's socket, the poll events it waits
    // for, how long until it must be processed regardless (nothing: no
    // deadline), and the processing itself.
    int fileDescriptor() const;
    short pollEvents() const;
    std::optional<std::chrono::microseconds> timeout() const;
    void process();

    // The interface's methods and the bus's signals, as the bus delivers them.
    struct Methods;

private:
    void setOwnsName(bool owns);

    InstanceKind kind_;
    InstanceController& controller_;
    sd_bus* bus_ = nullptr;
    sd_bus_slot* object_ = nullptr;
    sd_bus_slot* acquired_ = nullptr;
    sd_bus_slot* lost_ = nullptr;
    bool ownsName_ = false;
    std::string connectionError_;
};

// The words a kind goes by in messages and on the bus: "tray", "run".
std::string instanceKindName(InstanceKind kind);

// Sends a request to the instance that owns the name and waits for the
// answer (at most a few seconds). Never starts anything.
InstanceReply sendToRunningInstance(const InstanceRequest& request);

// Who holds the name now: the kind, and the process, when the bus tells.
struct InstanceHolder {
    std::string kind; // "tray" or "run"; empty when it did not say
    std::optional<int> pid;
};
std::optional<InstanceHolder> runningInstanceHolder();

} // namespace quellora
