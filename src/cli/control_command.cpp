#include "cli/control_command.h"

#include "app/session_bus_instance.h"
#include "cli/command_error.h"
#include "cli/command_reference.h"
#include "cli/option_scanner.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <optional>

namespace quellora {
namespace {

// What each command asks the running instance; their help is in the
// command reference.
struct ControlCommand {
    std::string_view name;
    InstanceCommand command;
    bool takesName = false;
};

constexpr std::array<ControlCommand, 7> controlCommands{{
    {"toggle", InstanceCommand::toggle},
    {"on", InstanceCommand::enable},
    {"off", InstanceCommand::disable},
    {"status", InstanceCommand::mode},
    {"apps", InstanceCommand::applications},
    {"direct", InstanceCommand::makeDirect, true},
    {"level", InstanceCommand::makeLevelled, true},
}};

const ControlCommand* findCommand(std::string_view name) {
    for (const auto& command : controlCommands) {
        if (command.name == name) {
            return &command;
        }
    }
    return nullptr;
}

// --help and the operands.
class ControlOptionsParser final : public OptionScanner {
public:
    bool showHelp = false;
    std::vector<std::string> operands;

protected:
    std::optional<bool> takesValue(std::string_view name) const override {
        if (name == "-h" || name == "--help") {
            return false;
        }
        return std::nullopt;
    }
    void addOption(std::string_view, std::string_view) override { showHelp = true; }
    void addOperand(std::string_view argument) override { operands.emplace_back(argument); }
};

// The request, or CommandError (bad input) for operands the command does not take.
InstanceRequest requestFor(const ControlCommand& command, const ControlOptionsParser& options) {
    if (!command.takesName) {
        if (!options.operands.empty()) {
            throw CommandError::badInput(
                fmt::format("unexpected argument \"{}\"", options.operands.front()));
        }
        return {command.command, {}};
    }
    if (options.operands.empty()) {
        throw CommandError::badInput(
            "which application? Give its name or ID, as quellora apps lists them");
    }
    if (options.operands.size() > 1) {
        throw CommandError::badInput(
            fmt::format("one application at a time; quote a name with spaces: \"{} {}\"",
                        options.operands[0], options.operands[1]));
    }
    return {command.command, options.operands.front()};
}

std::string playsText(const ListedApplication& application) {
    auto text = std::string(application.direct ? "direct" : "levelled");
    if (!application.outputDeviceName.empty()) {
        text = "plays on " + application.outputDeviceName;
    } else if (!application.reason.empty()) {
        text += " (" + application.reason + ")";
    }
    return application.playing ? text : text + ", paused";
}

// Sends the request; CommandError when it did not get done.
InstanceReply send(const InstanceRequest& request) {
    const auto reply = sendToRunningInstance(request);
    switch (reply.status) {
    case InstanceReply::Status::done:
        return reply;
    case InstanceReply::Status::notRunning:
        throw CommandError::failure("Quellora is not running.");
    case InstanceReply::Status::refused:
        throw CommandError::badInput(reply.text);
    case InstanceReply::Status::failed:
        break;
    }
    throw CommandError::failure("Quellora did not answer: " + reply.text);
}

} // namespace

bool isControlCommand(std::string_view command) {
    return findCommand(command) != nullptr;
}

std::string formatApplicationList(const std::vector<ListedApplication>& applications) {
    if (applications.empty()) {
        return "No application has an output stream.\n";
    }
    std::size_t nameWidth = std::string_view("APPLICATION").size();
    std::size_t idWidth = std::string_view("ID").size();
    for (const auto& application : applications) {
        nameWidth = std::max(nameWidth, application.name.size());
        idWidth = std::max(idWidth, application.bundleID.size());
    }
    auto text =
        fmt::format("{:<{}}  {:<{}}  {}\n", "APPLICATION", nameWidth, "ID", idWidth, "PLAYS");
    for (const auto& application : applications) {
        text += fmt::format("{:<{}}  {:<{}}  {}\n", application.name, nameWidth,
                            application.bundleID, idWidth, playsText(application));
    }
    return text;
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
        const auto request = requestFor(found, options);
        const auto reply = send(request);
        switch (found.command) {
        case InstanceCommand::mode:
            console.out << reply.text << '\n';
            break;
        case InstanceCommand::applications:
            console.out << formatApplicationList(reply.applications);
            if (send({InstanceCommand::mode, {}}).text == "off") {
                console.out << "Quellora is off: every application plays unprocessed.\n";
            }
            break;
        case InstanceCommand::makeDirect:
        case InstanceCommand::makeLevelled:
            console.out << fmt::format("{} now plays {}.\n", reply.text,
                                       found.command == InstanceCommand::makeDirect ? "direct"
                                                                                    : "levelled");
            break;
        default:
            break;
        }
        return static_cast<int>(ExitStatus::success);
    } catch (const CommandError& error) {
        return reportCommandError(console, command, error.status(), error.what());
    }
}

} // namespace quellora
