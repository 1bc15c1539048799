#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace quellora {

// An application as the running instance lists it for another process.
struct ListedApplication {
    std::string bundleID;
    std::string name;
    bool direct = false;
    std::string reason; // why it plays direct by default: "call audio", "pro audio"; or empty
    bool playing = false;
    // It has an output stream now; else only the user's choice for it is kept.
    bool present = true;
    std::string outputDeviceName{}; // where it plays instead of the default output; or empty

    friend bool operator==(const ListedApplication&, const ListedApplication&) = default;
};

// Why the running instance did not do what was asked, in words for the user.
class InstanceRefusal : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What another process may ask of the running instance. Main thread only.
class InstanceController {
public:
    virtual ~InstanceController() = default;
    virtual void toggle() = 0;
    virtual void enable() = 0;
    virtual void disable() = 0;
    // As when the user starts the application again.
    virtual void activate() = 0;
    // "off", "on", "on (waiting for audio output)", "needsPermission" or "error: <message>";
    // while on, the programme target while programmes are evened out ("on, programmes at
    // -18 LUFS"), then why some audio passes unlevelled ("on, some audio passes unlevelled:
    // <reason>").
    virtual std::string mode() const = 0;
    // Those with an output stream, then the remembered choices for others.
    virtual std::vector<ListedApplication> applications() const = 0;
    // Sends the application called `name` (its name or its bundle ID) around
    // the tap or through it, also one that does not play now, for when it
    // does; returns it as it now stands. Throws InstanceRefusal.
    virtual ListedApplication setApplicationDirect(const std::string& name, bool direct) = 0;
    // Forgets what the user chose for the application called `name`; returns
    // its name. Throws InstanceRefusal when no choice is remembered for it.
    virtual std::string forgetApplication(const std::string& name) = 0;
};

// Which kind of Quellora runs: the tray application or `quellora run`.
enum class InstanceKind { tray, headless };

// A request from another process, and what came of it.
enum class InstanceCommand {
    toggle,
    enable,
    disable,
    activate,
    mode,
    kind,
    applications,
    makeDirect,
    makeLevelled,
    forget
};

struct InstanceRequest {
    InstanceCommand command = InstanceCommand::mode;
    std::string applicationName; // for makeDirect, makeLevelled and forget
};

struct InstanceReply {
    enum class Status { done, notRunning, refused, failed };
    Status status = Status::failed;
    // The mode, the kind ("tray" or "run"), the application's name; why, when
    // refused or failed.
    std::string text;
    // The list; after makeDirect or makeLevelled, the one application.
    std::vector<ListedApplication> applications;
};

} // namespace quellora
