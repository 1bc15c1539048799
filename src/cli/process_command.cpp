#include "cli/process_command.h"

#include "cli/command_error.h"
#include "cli/command_reference.h"
#include "cli/loudness_report.h"
#include "cli/preset_selection.h"
#include "cli/process_job.h"
#include "cli/process_options.h"

#include <new>
#include <string_view>

namespace quellora {
namespace {

int fail(const ConsoleStreams& console, ExitStatus status, std::string_view message) {
    return reportCommandError(console, "process", status, message);
}

} // namespace

int runProcessCommand(const std::vector<std::string>& args, const ConsoleStreams& console) {
    try {
        const auto options = parseProcessOptions(args);
        if (options.showHelp) {
            console.out << formatCommandUsage(*findCommandHelp("process"));
            return static_cast<int>(ExitStatus::success);
        }
        const auto loudness = runProcessJob(options, selectPreset(options), console);
        console.out << formatLoudnessReport(loudness.input, loudness.output) << std::flush;
        if (!console.out) {
            return fail(console, ExitStatus::failure, "cannot print the loudness report");
        }
        return static_cast<int>(ExitStatus::success);
    } catch (const CommandError& error) {
        return fail(console, error.status(), error.what());
    } catch (const std::bad_alloc&) {
        return fail(console, ExitStatus::failure, "out of memory");
    } catch (const std::exception& error) {
        return fail(console, ExitStatus::failure, error.what());
    }
}

} // namespace quellora
