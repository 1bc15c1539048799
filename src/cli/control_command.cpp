#include "cli/control_command.h"

#include "cli/command_error.h"
#include "cli/command_reference.h"
#include "cli/module_loader.h"
#include "cli/option_scanner.h"
#include "ui/tray/tray_module.h"

#include <fmt/format.h>

#include <array>
#include <optional>

namespace quellora {
namespace {

// What each command asks the running instance; their help is in the
// command reference.
struct ControlCommand {
    std::string_view name;
    InstanceCommand command;
};

constexpr std::array<ControlCommand, 4> controlCommands{{
    {"toggle", InstanceCommand::toggle},
    {"on", InstanceCommand::enable},
    {"off", InstanceCommand::disable},
    {"status", InstanceCommand::mode},
}};

const ControlCommand* findCommand(std::string_view name) {
    for (const auto& command : controlCommands) {
        if (command.name == name) {
            return &command;
        }
    }
    return nullptr;
}

// Only --help; anything else is a mistake.
class ControlOptionsParser final : public OptionScanner {
public:
    bool showHelp = false;
    std::optional<std::string> unexpected;

protected:
    std::optional<bool> takesValue(std::string_view name) const override {
        if (name == "-h" || name == "--help") {
            return false;
        }
        return std::nullopt;
    }
    void addOption(std::string_view, std::string_view) override { showHelp = true; }
    void addOperand(std::string_view argument) override {
        if (!unexpected) {
            unexpected = std::string(argument);
        }
    }
};

} // namespace

bool isControlCommand(std::string_view command) {
    return findCommand(command) != nullptr;
}

int runControlCommand(std::string_view command, const std::vector<std::string>& args,
                      const ConsoleStreams& console) {
    const auto& found = *findCommand(command);
    try {
        ControlOptionsParser options;
        options.scan(args);
        if (options.showHelp) {
            console.out << formatCommandUsage(*findCommandHelp(command));
            return static_cast<int>(ExitStatus::success);
        }
        if (options.unexpected) {
            throw CommandError::badInput(
                fmt::format("unexpected argument \"{}\"", *options.unexpected));
        }
    } catch (const CommandError& error) {
        return reportCommandError(console, command, error.status(), error.what());
    }

    InstanceReply reply;
    try {
        reply = loadModule<TrayModule>().sendToRunningInstance(found.command);
    } catch (const CommandError& error) {
        return reportCommandError(console, command, error.status(), error.what());
    }
    switch (reply.status) {
    case InstanceReply::Status::done:
        if (found.command == InstanceCommand::mode) {
            console.out << reply.text << '\n';
        }
        return static_cast<int>(ExitStatus::success);
    case InstanceReply::Status::notRunning:
        return reportCommandError(console, command, ExitStatus::failure,
                                  "Quellora is not running.");
    case InstanceReply::Status::failed:
        break;
    }
    return reportCommandError(console, command, ExitStatus::failure,
                              "Quellora did not answer: " + reply.text);
}

} // namespace quellora
