#include "cli/process_job.h"

#include "cli/background_loudness_meter.h"
#include "cli/command_error.h"
#include "cli/interrupt_guard.h"
#include "cli/meter_csv_writer.h"
#include "cli/offline_processor.h"
#include "cli/output_format.h"
#include "cli/progress_indicator.h"
#include "cli/replacement_file.h"
#include "cli/sound_file_reader.h"
#include "cli/sound_file_writer.h"

#include <fmt/format.h>

#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

namespace quellora {
namespace {

namespace fs = std::filesystem;

// Frames decoded, measured and encoded per pass. The loudness measurement
// and the codecs cost far less per frame when fed this much at a time; the
// compressor still sees blocks of the size asked for.
constexpr std::int64_t ioFrames = 16384;

bool sameFile(const fs::path& a, const fs::path& b) {
    std::error_code error;
    if (fs::equivalent(a, b, error)) {
        return true;
    }
    const auto canonicalA = fs::weakly_canonical(a, error);
    if (error) {
        return false;
    }
    const auto canonicalB = fs::weakly_canonical(b, error);
    return !error && canonicalA == canonicalB;
}

void checkDestination(const fs::path& destination, std::string_view role,
                      const ProcessOptions& options) {
    if (sameFile(destination, options.input)) {
        throw CommandError::badInput(
            fmt::format("{} \"{}\" is the same file as INPUT", role, destination.string()));
    }
    std::error_code error;
    if (fs::is_directory(destination, error)) {
        throw CommandError::badInput(
            fmt::format("{} \"{}\" is a directory", role, destination.string()));
    }
}

void checkPaths(const ProcessOptions& options) {
    checkDestination(options.output, "OUTPUT", options);
    if (options.metersPath) {
        checkDestination(*options.metersPath, "--meters", options);
        if (sameFile(*options.metersPath, options.output)) {
            throw CommandError::badInput("--meters names the same file as OUTPUT");
        }
    }
}

std::int64_t framesPerPass(std::int64_t blockFrames) {
    // Whole blocks, so that only the last block of the file comes out short.
    return (ioFrames + blockFrames - 1) / blockFrames * blockFrames;
}

} // namespace

LoudnessComparison runProcessJob(const ProcessOptions& options, const PresetSelection& preset,
                                 const ConsoleStreams& console) {
    // From here on an interruption ends the job at the next pass and lets it
    // clean up.
    InterruptGuard interrupts;
    const auto checkInterrupt = [&] {
        if (interrupts.interrupted()) {
            throw CommandError(ExitStatus::interrupted, "interrupted");
        }
    };
    const auto container = containerForPath(options.output);
    if (!container) {
        throw CommandError::badInput(
            fmt::format("OUTPUT \"{}\" does not end in a known extension ({})",
                        options.output.string(), knownOutputExtensions()));
    }
    SoundFileReader reader(options.input);
    const auto& in = reader.info();
    if (in.channels > ChannelLayout::maxChannels) {
        throw CommandError::badInput(
            fmt::format("\"{}\" has {} channels; at most {} (7.1) can be processed",
                        options.input.string(), in.channels, ChannelLayout::maxChannels));
    }
    checkPaths(options);
    const auto format =
        chooseOutputFormat(*container, in.sndfileFormat, in.channels, in.sampleRate);

    OfflineProcessor processor({preset.params, preset.chain, static_cast<float>(in.sampleRate),
                                in.layout, options.blockFrames, options.align,
                                options.metersPath.has_value(), preset.programmeTarget});
    if (processor.lookaheadFrames() < 1) {
        throw CommandError::badInput(
            fmt::format("\"{}\" runs at {} Hz, too slow a rate for the compressor",
                        options.input.string(), in.sampleRate));
    }
    BackgroundLoudnessMeter inputLoudness(in.layout, in.sampleRate);
    BackgroundLoudnessMeter outputLoudness(in.layout, in.sampleRate);

    ReplacementFile outputFile(options.output);
    std::optional<MeterCsvWriter> meterLog;
    if (options.metersPath) {
        meterLog.emplace(*options.metersPath);
    }
    SoundFileWriter writer(outputFile.descriptor(),
                           {format.sndfileFormat, in.channels, in.sampleRate, 0},
                           options.output.string());
    if (!format.note.empty()) {
        console.out << "note: " << format.note << '\n';
    }

    const auto deliver = [&](std::span<const float> samples) {
        const auto frames = static_cast<std::int64_t>(samples.size()) / in.channels;
        writer.write(samples.data(), frames);
        outputLoudness.add(samples);
        if (meterLog) {
            meterLog->add(processor.blockMeters());
        }
    };

    {
        ProgressIndicator progress(
            console.err, showsProgress(console.errIsTerminal, in.frames, in.sampleRate), in.frames);
        const auto passFrames = framesPerPass(options.blockFrames);
        std::vector<float> samples(static_cast<std::size_t>(passFrames * in.channels));
        std::int64_t framesDone = 0;
        progress.update(framesDone);
        for (;;) {
            checkInterrupt();
            const auto frames = reader.read(samples.data(), passFrames);
            if (frames == 0) {
                break;
            }
            inputLoudness.add({samples.data(), static_cast<std::size_t>(frames * in.channels)});
            deliver(processor.process(samples.data(), frames));
            framesDone += frames;
            progress.update(framesDone);
        }
        deliver(processor.finish());
    }
    writer.close();
    checkInterrupt();
    LoudnessComparison loudness{inputLoudness.finish(), outputLoudness.finish(), in.sampleRate};
    if (meterLog) {
        meterLog->commit();
    }
    outputFile.commit();
    return loudness;
}

} // namespace quellora
