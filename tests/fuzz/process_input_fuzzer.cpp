// `quellora process` on hostile input files: whatever libsndfile makes of the
// bytes (WAV, FLAC, AIFF and more, truncated or lying in their headers), the
// job either levels the file or refuses it with a CommandError.
#include "cli/command_error.h"
#include "cli/preset_selection.h"
#include "cli/process_job.h"
#include "cli/process_options.h"
#include "fuzz_scratch.h"

#include <sstream>

using namespace quellora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::emptyScratchFolder();
    ProcessOptions options;
    options.input = fuzzing::scratchFolder() / "input";
    options.output = fuzzing::scratchFolder() / "output.wav";
    options.metersPath = fuzzing::scratchFolder() / "meters.csv";
    options.blockFrames = 64;
    fuzzing::writeInput(options.input, data, size);
    std::ostringstream out;
    std::ostringstream err;
    try {
        PresetSelection standard;
        standard.params = CompressorParams::defaults();
        runProcessJob(options, standard, {out, err, false});
    } catch (const CommandError&) {
    }
    return 0;
}
