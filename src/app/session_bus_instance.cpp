#include "app/session_bus_instance.h"

#include "base/application_id.h"
#include "base/log.h"
#include "base/utf8.h"

#include <poll.h>
#include <systemd/sd-bus.h>

#include <cstring>
#include <ctime>
#include <memory>

namespace quellora {
namespace {

const std::string serviceName(applicationId);
constexpr const char* objectPath = "/org/quellora/Quellora";
constexpr const char* unknownApplicationError = "org.quellora.Quellora.Error.Refused";
constexpr std::uint64_t callTimeoutUs = 5'000'000;

struct BusDeleter {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using BusHandle = std::unique_ptr<sd_bus, BusDeleter>;

struct MessageDeleter {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using MessageHandle = std::unique_ptr<sd_bus_message, MessageDeleter>;

// An sd-bus error that frees itself.
struct BusError {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    BusError() = default;
    BusError(const BusError&) = delete;
    BusError& operator=(const BusError&) = delete;
    ~BusError() { sd_bus_error_free(&error); }
};

const char* methodName(InstanceCommand command) {
    switch (command) {
    case InstanceCommand::toggle:
        return "Toggle";
    case InstanceCommand::enable:
        return "Enable";
    case InstanceCommand::disable:
        return "Disable";
    case InstanceCommand::activate:
        return "Activate";
    case InstanceCommand::mode:
        return "Mode";
    case InstanceCommand::kind:
        return "Kind";
    case InstanceCommand::applications:
        return "Applications";
    case InstanceCommand::forget:
        return "ForgetApplication";
    case InstanceCommand::makeDirect:
    case InstanceCommand::makeLevelled:
        break;
    }
    return "SetApplicationDirect";
}

// An application on the bus: bundle ID, name, direct, reason, playing, present.
constexpr const char* applicationSignature = "(ssbsbbs)";

int appendApplication(sd_bus_message* message, const ListedApplication& application) {
    // The bus refuses the whole message for one string that is not UTF-8.
    return sd_bus_message_append(
        message, applicationSignature, validUtf8(application.bundleID).c_str(),
        validUtf8(application.name).c_str(), static_cast<int>(application.direct),
        application.reason.c_str(), static_cast<int>(application.playing),
        static_cast<int>(application.present), validUtf8(application.outputDeviceName).c_str());
}

// Reads one application; 0 at the end of an array.
int readApplication(sd_bus_message* message, ListedApplication& application) {
    const char* bundleID = nullptr;
    const char* name = nullptr;
    const char* reason = nullptr;
    const char* outputDevice = nullptr;
    int direct = 0;
    int playing = 0;
    int present = 0;
    const int result = sd_bus_message_read(message, applicationSignature, &bundleID, &name, &direct,
                                           &reason, &playing, &present, &outputDevice);
    if (result > 0) {
        application = {bundleID,     name,         direct != 0, reason,
                       playing != 0, present != 0, outputDevice};
    }
    return result;
}

bool meansNotRunning(const sd_bus_error& error) {
    return sd_bus_error_has_name(&error, SD_BUS_ERROR_SERVICE_UNKNOWN) ||
           sd_bus_error_has_name(&error, SD_BUS_ERROR_NAME_HAS_NO_OWNER);
}

std::string describeErrno(int negativeErrno) {
    return std::strerror(-negativeErrno);
}

std::optional<std::string> openSessionBus(BusHandle& handle) {
    sd_bus* bus = nullptr;
    const int result = sd_bus_open_user(&bus);
    if (result < 0) {
        return "cannot reach the D-Bus session bus: " + describeErrno(result);
    }
    handle.reset(bus);
    return std::nullopt;
}

} // namespace

std::string instanceKindName(InstanceKind kind) {
    return kind == InstanceKind::tray ? "tray" : "run";
}

// The interface's methods; each answers on the main thread, from process().
struct SessionBusInstance::Methods {
    static InstanceController& controllerOf(void* self) {
        return static_cast<SessionBusInstance*>(self)->controller_;
    }

    template <void (InstanceController::*operation)()>
    static int command(sd_bus_message* message, void* self, sd_bus_error*) {
        (controllerOf(self).*operation)();
        return sd_bus_reply_method_return(message, "");
    }

    static int mode(sd_bus_message* message, void* self, sd_bus_error*) {
        return sd_bus_reply_method_return(message, "s", controllerOf(self).mode().c_str());
    }

    static int kind(sd_bus_message* message, void* self, sd_bus_error*) {
        const auto name = instanceKindName(static_cast<SessionBusInstance*>(self)->kind_);
        return sd_bus_reply_method_return(message, "s", name.c_str());
    }

    static int applications(sd_bus_message* message, void* self, sd_bus_error*) {
        sd_bus_message* raw = nullptr;
        int result = sd_bus_message_new_method_return(message, &raw);
        if (result < 0) {
            return result;
        }
        const MessageHandle reply(raw);
        result = sd_bus_message_open_container(reply.get(), 'a', applicationSignature);
        for (const auto& application : controllerOf(self).applications()) {
            if (result >= 0) {
                result = appendApplication(reply.get(), application);
            }
        }
        if (result >= 0) {
            result = sd_bus_message_close_container(reply.get());
        }
        return result < 0 ? result : sd_bus_send(nullptr, reply.get(), nullptr);
    }

    static int setApplicationDirect(sd_bus_message* message, void* self, sd_bus_error* error) {
        const char* name = nullptr;
        int direct = 0;
        const int result = sd_bus_message_read(message, "sb", &name, &direct);
        if (result < 0) {
            return result;
        }
        try {
            const auto changed = controllerOf(self).setApplicationDirect(name, direct != 0);
            sd_bus_message* raw = nullptr;
            int replied = sd_bus_message_new_method_return(message, &raw);
            if (replied < 0) {
                return replied;
            }
            const MessageHandle reply(raw);
            replied = appendApplication(reply.get(), changed);
            return replied < 0 ? replied : sd_bus_send(nullptr, reply.get(), nullptr);
        } catch (const InstanceRefusal& refusal) {
            return sd_bus_error_set(error, unknownApplicationError,
                                    validUtf8(refusal.what()).c_str());
        }
    }

    static int forgetApplication(sd_bus_message* message, void* self, sd_bus_error* error) {
        const char* name = nullptr;
        const int result = sd_bus_message_read(message, "s", &name);
        if (result < 0) {
            return result;
        }
        try {
            const auto forgotten = controllerOf(self).forgetApplication(name);
            return sd_bus_reply_method_return(message, "s", validUtf8(forgotten).c_str());
        } catch (const InstanceRefusal& refusal) {
            return sd_bus_error_set(error, unknownApplicationError,
                                    validUtf8(refusal.what()).c_str());
        }
    }

    // The bus tells the owner when the name comes (also right after a
    // claim) and when it goes.
    template <bool owned>
    static int nameChanged(sd_bus_message* message, void* self, sd_bus_error*) {
        const char* name = nullptr;
        if (sd_bus_message_read(message, "s", &name) >= 0 && name == serviceName) {
            static_cast<SessionBusInstance*>(self)->setOwnsName(owned);
        }
        return 0;
    }
};

namespace {

const sd_bus_vtable instanceVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Toggle", "", "",
                  &SessionBusInstance::Methods::command<&InstanceController::toggle>,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Enable", "", "",
                  &SessionBusInstance::Methods::command<&InstanceController::enable>,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Disable", "", "",
                  &SessionBusInstance::Methods::command<&InstanceController::disable>,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Activate", "", "",
                  &SessionBusInstance::Methods::command<&InstanceController::activate>,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Mode", "", "s", &SessionBusInstance::Methods::mode, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Kind", "", "s", &SessionBusInstance::Methods::kind, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Applications", "", "a(ssbsbbs)", &SessionBusInstance::Methods::applications,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("SetApplicationDirect", "sb", "(ssbsbbs)",
                  &SessionBusInstance::Methods::setApplicationDirect, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("ForgetApplication", "s", "s", &SessionBusInstance::Methods::forgetApplication,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

} // namespace

SessionBusInstance::SessionBusInstance(InstanceKind kind, InstanceController& controller)
    : kind_(kind)
    , controller_(controller) {}

SessionBusInstance::~SessionBusInstance() {
    if (!bus_) {
        return;
    }
    if (ownsName_) {
        sd_bus_release_name(bus_, serviceName.c_str());
    }
    sd_bus_slot_unref(lost_);
    sd_bus_slot_unref(acquired_);
    sd_bus_slot_unref(object_);
    sd_bus_flush_close_unref(bus_);
}

SessionBusInstance::Claim SessionBusInstance::claim() {
    if (!bus_) {
        BusHandle bus;
        if (const auto error = openSessionBus(bus)) {
            connectionError_ = *error;
            return Claim::noSessionBus;
        }
        bus_ = bus.release();
        int result = sd_bus_add_object_vtable(bus_, &object_, objectPath, serviceName.c_str(),
                                              instanceVtable, this);
        if (result >= 0) {
            result = sd_bus_match_signal(bus_, &acquired_, "org.freedesktop.DBus",
                                         "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                         "NameAcquired", &Methods::nameChanged<true>, this);
        }
        if (result >= 0) {
            result = sd_bus_match_signal(bus_, &lost_, "org.freedesktop.DBus",
                                         "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                         "NameLost", &Methods::nameChanged<false>, this);
        }
        if (result < 0) {
            connectionError_ = "cannot publish on the D-Bus session bus: " + describeErrno(result);
            return Claim::noSessionBus;
        }
    }
    const std::uint64_t flags = kind_ == InstanceKind::tray
                                    ? SD_BUS_NAME_REPLACE_EXISTING
                                    : SD_BUS_NAME_ALLOW_REPLACEMENT | SD_BUS_NAME_QUEUE;
    const int result = sd_bus_request_name(bus_, serviceName.c_str(), flags);
    if (result == -EEXIST) {
        return Claim::heldByAnother;
    }
    if (result < 0) {
        connectionError_ =
            "cannot ask the D-Bus session bus for " + serviceName + ": " + describeErrno(result);
        return Claim::noSessionBus;
    }
    ownsName_ = result > 0;
    return ownsName_ ? Claim::owned : Claim::queued;
}

void SessionBusInstance::setOwnsName(bool owns) {
    if (owns == ownsName_) {
        return;
    }
    ownsName_ = owns;
    if (onOwnershipChanged) {
        onOwnershipChanged(owns);
    }
}

int SessionBusInstance::fileDescriptor() const {
    return bus_ ? sd_bus_get_fd(bus_) : -1;
}

short SessionBusInstance::pollEvents() const {
    const int events = bus_ ? sd_bus_get_events(bus_) : 0;
    return static_cast<short>(events < 0 ? 0 : events);
}

std::optional<std::chrono::microseconds> SessionBusInstance::timeout() const {
    std::uint64_t deadline = 0;
    if (!bus_ || sd_bus_get_timeout(bus_, &deadline) < 0 || deadline == UINT64_MAX) {
        return std::nullopt;
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const auto nowUs = static_cast<std::uint64_t>(now.tv_sec) * 1'000'000u +
                       static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
    return std::chrono::microseconds(deadline > nowUs ? deadline - nowUs : 0);
}

void SessionBusInstance::process() {
    if (!bus_) {
        return;
    }
    int result = 0;
    do {
        result = sd_bus_process(bus_, nullptr);
    } while (result > 0);
    if (result < 0 && result != -ECONNRESET && result != -ENOTCONN) {
        Logger("Setup").error("Session bus processing failed: %{public}s", describeErrno(result));
    }
}

InstanceReply sendToRunningInstance(const InstanceRequest& request) {
    BusHandle bus;
    if (const auto error = openSessionBus(bus)) {
        return {InstanceReply::Status::failed, *error, {}};
    }
    sd_bus_message* raw = nullptr;
    int result = sd_bus_message_new_method_call(bus.get(), &raw, serviceName.c_str(), objectPath,
                                                serviceName.c_str(), methodName(request.command));
    if (result < 0) {
        return {InstanceReply::Status::failed, describeErrno(result), {}};
    }
    const MessageHandle call(raw);
    // Only a running instance may answer: nothing is started for the call.
    sd_bus_message_set_auto_start(call.get(), 0);
    const bool setsDirect = request.command == InstanceCommand::makeDirect ||
                            request.command == InstanceCommand::makeLevelled;
    if (setsDirect) {
        result =
            sd_bus_message_append(call.get(), "sb", request.applicationName.c_str(),
                                  static_cast<int>(request.command == InstanceCommand::makeDirect));
    } else if (request.command == InstanceCommand::forget) {
        result = sd_bus_message_append(call.get(), "s", request.applicationName.c_str());
    }
    if (result < 0) {
        return {InstanceReply::Status::failed, describeErrno(result), {}};
    }
    BusError error;
    sd_bus_message* rawReply = nullptr;
    result = sd_bus_call(bus.get(), call.get(), callTimeoutUs, &error.error, &rawReply);
    const MessageHandle reply(rawReply);
    if (result < 0) {
        if (meansNotRunning(error.error)) {
            return {InstanceReply::Status::notRunning, {}, {}};
        }
        if (sd_bus_error_has_name(&error.error, unknownApplicationError)) {
            return {InstanceReply::Status::refused, std::string(error.error.message), {}};
        }
        return {InstanceReply::Status::failed,
                error.error.message ? std::string(error.error.message) : describeErrno(result),
                {}};
    }
    InstanceReply answer{InstanceReply::Status::done, {}, {}};
    if (request.command == InstanceCommand::applications) {
        result = sd_bus_message_enter_container(reply.get(), 'a', applicationSignature);
        ListedApplication application;
        while (result >= 0 && (result = readApplication(reply.get(), application)) > 0) {
            answer.applications.push_back(application);
        }
    } else if (setsDirect) {
        ListedApplication application;
        result = readApplication(reply.get(), application);
        if (result > 0) {
            answer.text = application.name;
            answer.applications.push_back(application);
        } else if (result == 0) {
            result = -EBADMSG;
        }
    } else if (request.command != InstanceCommand::toggle &&
               request.command != InstanceCommand::enable &&
               request.command != InstanceCommand::disable &&
               request.command != InstanceCommand::activate) {
        const char* text = nullptr;
        result = sd_bus_message_read(reply.get(), "s", &text);
        if (result >= 0 && text) {
            answer.text = text;
        }
    }
    if (result < 0) {
        return {InstanceReply::Status::failed, "unreadable answer: " + describeErrno(result), {}};
    }
    return answer;
}

std::optional<InstanceHolder> runningInstanceHolder() {
    const auto kind = sendToRunningInstance({InstanceCommand::kind, {}});
    if (kind.status != InstanceReply::Status::done) {
        return std::nullopt;
    }
    InstanceHolder holder{kind.text, std::nullopt};
    BusHandle bus;
    if (openSessionBus(bus)) {
        return holder;
    }
    sd_bus_creds* creds = nullptr;
    pid_t pid = 0;
    if (sd_bus_get_name_creds(bus.get(), serviceName.c_str(), SD_BUS_CREDS_PID, &creds) >= 0 &&
        sd_bus_creds_get_pid(creds, &pid) >= 0) {
        holder.pid = static_cast<int>(pid);
    }
    sd_bus_creds_unref(creds);
    return holder;
}

} // namespace quellora
