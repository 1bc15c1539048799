// `quellora process` end to end: decoding, compression, encoding, the
// loudness report and the atomic replacement of the output, on a minute of
// the demonstration recording.

#include "cli/demo_clip.h"
#include "cli/process_command.h"
#include "support/temporary_directory.h"

#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>
#include <sstream>
#include <stdexcept>

namespace {

constexpr double clipSeconds = 60.0;

// The input, written once per run of the benchmark program and removed at exit.
class BenchmarkFiles {
public:
    BenchmarkFiles() { quellora::writeDemoClip(input(), clipSeconds); }
    BenchmarkFiles(const BenchmarkFiles&) = delete;
    BenchmarkFiles& operator=(const BenchmarkFiles&) = delete;

    std::string input() const { return (directory / "in.wav").string(); }
    std::string output() const { return (directory / "out.wav").string(); }

private:
    quellora::testing::TemporaryDirectory directory;
};

void BM_ProcessCommand(benchmark::State& state) {
    static const BenchmarkFiles files;
    const std::vector<std::string> args{files.input(), files.output()};
    for (auto _ : state) {
        std::ostringstream out;
        std::ostringstream err;
        if (quellora::runProcessCommand(args, {out, err, false}) != 0) {
            state.SkipWithError(err.str().c_str());
            break;
        }
        benchmark::DoNotOptimize(out.str());
    }
    state.counters["times_realtime"] = benchmark::Counter(
        clipSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_ProcessCommand)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
