#include "ui/tray/instance_service.h"

#include "base/application_id.h"
#include "base/log.h"
#include "ui/tray/session_bus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <optional>

namespace quellora {
namespace {

const QString serviceName = QString::fromUtf8(applicationId.data(), applicationId.size());
const QString objectPath = QStringLiteral("/org/quellora/Quellora");
constexpr int callTimeoutMs = 5000;

QString methodName(InstanceCommand command) {
    switch (command) {
    case InstanceCommand::toggle:
        return QStringLiteral("Toggle");
    case InstanceCommand::enable:
        return QStringLiteral("Enable");
    case InstanceCommand::disable:
        return QStringLiteral("Disable");
    case InstanceCommand::activate:
        return QStringLiteral("Activate");
    case InstanceCommand::mode:
        break;
    }
    return QStringLiteral("Mode");
}

bool meansNotRunning(const QString& errorName) {
    return errorName == QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown") ||
           errorName == QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner");
}

} // namespace

InstanceService::InstanceService(InstanceController& controller)
    : controller_(controller) {}

InstanceService::~InstanceService() {
    auto bus = sessionBus();
    if (nameClaimed_) {
        bus.unregisterService(serviceName);
    }
    if (objectRegistered_) {
        bus.unregisterObject(objectPath);
    }
}

InstanceService::Claim InstanceService::claim() {
    auto bus = sessionBus();
    if (!bus.isConnected()) {
        return Claim::noSessionBus;
    }
    if (!objectRegistered_) {
        objectRegistered_ = bus.registerObject(objectPath, this, QDBusConnection::ExportAllSlots);
    }
    nameClaimed_ = bus.registerService(serviceName);
    if (!nameClaimed_) {
        bus.unregisterObject(objectPath);
        objectRegistered_ = false;
        return Claim::heldByAnotherInstance;
    }
    return Claim::claimed;
}

namespace {

InstanceReply callRunningInstance(const QDBusConnection& bus, InstanceCommand command) {
    if (!bus.isConnected()) {
        return {InstanceReply::Status::failed,
                "cannot reach the D-Bus session bus: " + bus.lastError().message().toStdString()};
    }
    auto call =
        QDBusMessage::createMethodCall(serviceName, objectPath, serviceName, methodName(command));
    // Never start anything: only a running instance may answer.
    call.setAutoStartService(false);
    const auto reply = bus.call(call, QDBus::Block, callTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        if (meansNotRunning(reply.errorName())) {
            return {InstanceReply::Status::notRunning, {}};
        }
        return {InstanceReply::Status::failed, reply.errorMessage().toStdString()};
    }
    std::string text;
    if (command == InstanceCommand::mode && !reply.arguments().isEmpty()) {
        text = reply.arguments().front().toString().toStdString();
    }
    return {InstanceReply::Status::done, std::move(text)};
}

} // namespace

InstanceReply sendToRunningInstance(InstanceCommand command) {
    int argc = 1;
    char programName[] = "quellora";
    char* argv[] = {programName, nullptr};
    std::optional<QCoreApplication> application;
    if (QCoreApplication::instance() == nullptr) {
        application.emplace(argc, argv);
    }
    return callRunningInstance(sessionBus(), command);
}

int runSessionThenRelaunch(const std::function<int(RelaunchRequest& relaunch)>& session,
                           CommandRunner& runner, std::ostream& err) {
    RelaunchRequest relaunch;
    const int status = session(relaunch);
    if (relaunch && !runner.launchDetached(*relaunch)) {
        Logger("Updater").error("Could not start %{public}s again; start Quellora yourself.",
                                relaunch->front());
        err << "quellora: could not start " << relaunch->front() << " again\n";
    }
    return status;
}

} // namespace quellora
