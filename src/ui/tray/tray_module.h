#pragma once

// What the `quellora` executable reaches of the tray application, which
// lives in a module of its own (see cli/module_loader.h) so that the other
// commands never load Qt's GUI, widget and D-Bus libraries or the X client
// libraries. This header is the whole interface between the two: plain C++,
// no Qt.

#include <iosfwd>
#include <string>

namespace quellora {

// A command for the running instance, from another process.
enum class InstanceCommand { toggle, enable, disable, activate, mode };

struct InstanceReply {
    enum class Status { done, notRunning, failed };
    Status status = Status::failed;
    // The mode, for InstanceCommand::mode; why, for a failure.
    std::string text;
};

struct TrayModule {
    static constexpr const char* fileName = "quellora-tray.so";

    // The version the module was built as; it must be the executable's.
    const char* version;
    // The tray application; returns the process exit status.
    int (*runTrayApplication)(std::ostream& err);
    // Sends `command` to the running instance and waits for its answer.
    InstanceReply (*sendToRunningInstance)(InstanceCommand command);
};

} // namespace quellora
