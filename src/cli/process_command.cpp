#include "cli/process_command.h"

#include "cli/command_error.h"
#include "cli/loudness_report.h"
#include "cli/output_format.h"
#include "cli/preset_selection.h"
#include "cli/process_job.h"
#include "cli/process_options.h"

#include <fmt/format.h>

#include <new>
#include <string_view>

namespace quellora {
namespace {

int fail(const ConsoleStreams& console, ExitStatus status, std::string_view message) {
    return reportCommandError(console, "process", status, message);
}

} // namespace

std::string processUsage() {
    return "usage: quellora process INPUT OUTPUT [options]\n"
           "\n"
           "Compresses INPUT with Quellora's real-time compressor, writes OUTPUT in the\n"
           "format its extension names, and prints the loudness of both.\n"
           "INPUT: mono or stereo, anything libsndfile reads (WAV, FLAC, Ogg, AIFF, ...).\n" +
           fmt::format("OUTPUT: {}\n", knownOutputExtensions()) +
           "\n"
           "options:\n" +
           presetOptionsHelp("the built-in preset (default)",
                             "(parameters then set its compressor stage)") +
           "other:\n" +
           formatOptionHelp("--block FRAMES",
                            fmt::format("frames per compressor call, {} to {} (default 512)",
                                        blockFramesRange.lowerBound, blockFramesRange.upperBound)) +
           formatOptionHelp("--meters FILE.csv",
                            "per call: input peak, output peak, gain reduction (dB)") +
           formatOptionHelp("--no-align", "keep the lookahead delay in OUTPUT") +
           formatOptionHelp("-h, --help", "show this text") +
           "\nOptions take their value as \"--opt value\" or \"--opt=value\".\n";
}

int runProcessCommand(const std::vector<std::string>& args, const ConsoleStreams& console) {
    try {
        const auto options = parseProcessOptions(args);
        if (options.showHelp) {
            console.out << processUsage();
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
