#pragma once

#include "distribution/command_runner.h"
#include "ui/tray/tray_module.h"

#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace quellora {

// What another process may ask of the running application.
class InstanceController {
public:
    virtual ~InstanceController() = default;
    virtual void toggle() = 0;
    virtual void enable() = 0;
    virtual void disable() = 0;
    // As when the user starts the application again.
    virtual void activate() = 0;
    // "off", "on", "needsPermission" or "error: <message>".
    virtual std::string mode() const = 0;
};

// The running application on the session bus: owning the name
// org.quellora.Quellora keeps it to one instance, and the object
// /org/quellora/Quellora (interface org.quellora.Quellora) takes commands
// from the command line and from a second launch.
class InstanceService final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.quellora.Quellora")
public:
    explicit InstanceService(InstanceController& controller);
    ~InstanceService() override;
    InstanceService(const InstanceService&) = delete;
    InstanceService& operator=(const InstanceService&) = delete;

    enum class Claim { claimed, heldByAnotherInstance, noSessionBus };
    // Publishes the object, then takes the name, so that the first call a
    // second launch makes already finds the object.
    Claim claim();

    // The methods on the bus, under these names. Main thread.
public slots:
    void Toggle() { controller_.toggle(); }
    void Enable() { controller_.enable(); }
    void Disable() { controller_.disable(); }
    void Activate() { controller_.activate(); }
    QString Mode() { return QString::fromStdString(controller_.mode()); }

private:
    InstanceController& controller_;
    bool objectRegistered_ = false;
    bool nameClaimed_ = false;
};

// Sends `command` and waits for the answer (at most a few seconds). Makes a
// QCoreApplication for the call if there is none.
InstanceReply sendToRunningInstance(InstanceCommand command);

// The command a quitting instance asks to be started in its place.
using RelaunchRequest = std::optional<std::vector<std::string>>;

// Runs `session`, which holds the bus name while it runs, and once it has
// returned starts what it put in the request. Started while this instance
// still owned the name, the new one would hand over to it and exit, and then
// this one would quit as well. Returns the session's exit status.
int runSessionThenRelaunch(const std::function<int(RelaunchRequest& relaunch)>& session,
                           CommandRunner& runner, std::ostream& err);

} // namespace quellora
