#include "cli/process_command.h"

#include "cli/command_error.h"
#include "cli/command_reference.h"
#include "cli/loudness_report.h"
#include "cli/preset_selection.h"
#include "cli/process_job.h"
#include "cli/process_options.h"

namespace quellora {

int runProcessCommand(const std::vector<std::string>& args, const ConsoleStreams& console) {
    return runReportingErrors(console, "process", [&] {
        const auto options = parseProcessOptions(args);
        if (options.showHelp) {
            console.out << formatCommandUsage(*findCommandHelp("process"));
            return static_cast<int>(ExitStatus::success);
        }
        const auto loudness = runProcessJob(options, selectPreset(options), console);
        console.out << formatLoudnessReport(loudness.input, loudness.output, loudness.sampleRate)
                    << std::flush;
        if (!console.out) {
            throw CommandError::failure("cannot print the loudness report");
        }
        return static_cast<int>(ExitStatus::success);
    });
}

} // namespace quellora
