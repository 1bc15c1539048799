#include "cli/control_command.h"

#include "app/session_bus_instance.h"
#include "base/utf8.h"
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

constexpr std::array<ControlCommand, 8> controlCommands{{
    {"toggle", InstanceCommand::toggle},
    {"on", InstanceCommand::enable},
    {"off", InstanceCommand::disable},
    {"status", InstanceCommand::mode},
    {"apps", InstanceCommand::applications},
    {"direct", InstanceCommand::makeDirect, true},
    {"level", InstanceCommand::makeLevelled, true},
    {"forget", InstanceCommand::forget, true},
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
    if (!application.present) {
        return text + ", remembered";
    }
    return application.playing ? text : text + ", paused";
}

std::string choiceText(const ListedApplication& application, bool forTerminal) {
    const char* plays = application.direct ? "direct" : "levelled";
    const auto name = forTerminal ? escapedControls(application.name) : application.name;
    if (!application.present) {
        return fmt::format("{} does not play now; it will play {} when it starts.\n", name, plays);
    }
    return fmt::format("{} now plays {}.\n", name, plays);
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

std::string formatApplicationList(const std::vector<ListedApplication>& listed, bool forTerminal) {
    if (listed.empty()) {
        return "No application has an output stream.\n";
    }
    // Any audio client names itself: on a terminal its controls are shown.
    auto applications = listed;
    if (forTerminal) {
        for (auto& application : applications) {
            application.name = escapedControls(application.name);
            application.bundleID = escapedControls(application.bundleID);
            application.outputDeviceName = escapedControls(application.outputDeviceName);
        }
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
    if (std::any_of(applications.begin(), applications.end(),
                    [](const ListedApplication& application) { return !application.present; })) {
        text += "Remembered: chosen for an application that has no stream now; quellora forget "
                "NAME drops the choice.\n";
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
            console.out << formatApplicationList(reply.applications, console.outIsTerminal);
            if (send({InstanceCommand::mode, {}}).text == "off") {
                console.out << "Quellora is off: every application plays unprocessed.\n";
            }
            break;
        case InstanceCommand::makeDirect:
        case InstanceCommand::makeLevelled:
            console.out << choiceText(reply.applications.front(), console.outIsTerminal);
            break;
        case InstanceCommand::forget:
            console.out << fmt::format("The choice for {} is forgotten: it plays as by default.\n",
                                       console.outIsTerminal ? escapedControls(reply.text)
                                                             : reply.text);
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
