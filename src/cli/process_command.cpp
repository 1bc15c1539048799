#include "cli/process_command.h"

#include "cli/command_error.h"
#include "cli/loudness_report.h"
#include "cli/output_format.h"
#include "cli/preset_selection.h"
#include "cli/process_job.h"
#include "cli/process_options.h"

#include <fmt/format.h>

#include <algorithm>
#include <new>
#include <string_view>

namespace quellora {
namespace {

// Library messages sometimes span lines; the report is always one.
std::string oneLine(std::string_view message) {
    std::string line(message);
    std::replace(line.begin(), line.end(), '\n', ' ');
    while (!line.empty() && line.back() == ' ') {
        line.pop_back();
    }
    return line;
}

int fail(const ConsoleStreams& console, ExitStatus status, std::string_view message) {
    console.err << "quellora process: " << oneLine(message) << '\n';
    return static_cast<int>(status);
}

std::string optionLine(std::string_view option, std::string_view text) {
    return fmt::format("  {:<22}{}\n", option, text);
}

} // namespace

std::string processUsage() {
    std::string usage =
        "usage: quellora process INPUT OUTPUT [options]\n"
        "\n"
        "Compresses INPUT with Quellora's real-time compressor, writes OUTPUT in the\n"
        "format its extension names, and prints the loudness of both.\n"
        "INPUT: mono or stereo, anything libsndfile reads (WAV, FLAC, Ogg, AIFF, ...).\n" +
        fmt::format("OUTPUT: {}\n", knownOutputExtensions()) +
        "\n"
        "options:\n" +
        optionLine("--preset standard", "the built-in preset (default)") +
        optionLine("--preset-file FILE", "saved presets, as the application stores them") +
        optionLine("--preset-name NAME", "the one to use from FILE") +
        "parameters (override the preset):\n";
    const auto standard = CompressorParams::defaults();
    for (std::size_t index = 0; index < compressorParamFields.size(); ++index) {
        const auto& field = compressorParamFields[index];
        const auto& option = parameterOptionFor(index);
        usage += optionLine(fmt::format("{} {}", option.name, option.valueName),
                            fmt::format("{}, {} to {} (standard {})", option.meaning,
                                        field.range.lowerBound, field.range.upperBound,
                                        standard.*field.member));
    }
    usage +=
        "other:\n" +
        optionLine("--block FRAMES",
                   fmt::format("frames per compressor call, {} to {} (default 512)",
                               blockFramesRange.lowerBound, blockFramesRange.upperBound)) +
        optionLine("--meters FILE.csv", "per call: input peak, output peak, gain reduction (dB)") +
        optionLine("--no-align", "keep the lookahead delay in OUTPUT") +
        optionLine("-h, --help", "show this text") +
        "\nOptions take their value as \"--opt value\" or \"--opt=value\".\n";
    return usage;
}

int runProcessCommand(const std::vector<std::string>& args, const ConsoleStreams& console) {
    try {
        const auto options = parseProcessOptions(args);
        if (options.showHelp) {
            console.out << processUsage();
            return static_cast<int>(ExitStatus::success);
        }
        const auto params = selectCompressorParams(options);
        const auto loudness = runProcessJob(options, params, console);
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
