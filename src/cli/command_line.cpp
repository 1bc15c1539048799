#include "cli/command_line.h"

#include "cli/command_error.h"
#include "cli/command_reference.h"
#include "cli/control_command.h"
#include "cli/module_loader.h"
#include "cli/process_module.h"
#include "cli/run_command.h"
#include "ui/tray/tray_module.h"

#include <unistd.h>

#include <iostream>

namespace quellora {
namespace {

int runTray(const ConsoleStreams& console) {
    try {
        return loadModule<TrayModule>().runTrayApplication(console.err);
    } catch (const std::exception& error) {
        console.err << "quellora: " << error.what() << '\n';
        return static_cast<int>(ExitStatus::failure);
    }
}

int runProcess(const std::vector<std::string>& args, const ConsoleStreams& console) {
    try {
        return loadModule<ProcessModule>().runProcessCommand(args, console);
    } catch (const CommandError& error) {
        return reportCommandError(console, "process", error.status(), error.what());
    }
}

} // namespace

int runCommandLine(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return runCommandLine(
        args, {std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1, ::isatty(STDOUT_FILENO) == 1});
}

int runCommandLine(const std::vector<std::string>& args, const ConsoleStreams& console) {
    if (args.empty()) {
        return runTray(console);
    }
    const auto& command = args.front();
    if (command == "-h" || command == "--help") {
        console.out << formatProgramUsage(commandReference());
        return static_cast<int>(ExitStatus::success);
    }
    if (command == "--version") {
        console.out << "quellora " << QUELLORA_VERSION << '\n';
        return static_cast<int>(ExitStatus::success);
    }
    if (command == "process") {
        return runProcess({args.begin() + 1, args.end()}, console);
    }
    if (command == "run") {
        return runRunCommand({args.begin() + 1, args.end()}, console);
    }
    if (isControlCommand(command)) {
        return runControlCommand(command, {args.begin() + 1, args.end()}, console);
    }
    console.err << "quellora: unknown command \"" << command << "\" (see quellora --help)\n";
    return static_cast<int>(ExitStatus::badInput);
}

} // namespace quellora
