#include "cli/meter_csv_writer.h"

#include <fmt/format.h>

#include <iterator>

namespace quellora {
namespace {

// Lines are batched into writes of about this size.
constexpr std::size_t flushBytes = 64 * 1024;

} // namespace

MeterCsvWriter::MeterCsvWriter(const std::filesystem::path& path)
    : file(path) {
    pending.reserve(flushBytes + 128);
}

void MeterCsvWriter::add(std::span<const LevelSample> samples) {
    for (const auto& sample : samples) {
        fmt::format_to(std::back_inserter(pending), "{},{},{}\n", sample.inputPeak,
                       sample.outputPeak, sample.gainReduction);
        if (pending.size() >= flushBytes) {
            flush();
        }
    }
}

void MeterCsvWriter::commit() {
    flush();
    file.commit();
}

void MeterCsvWriter::flush() {
    file.write(pending);
    pending.clear();
}

} // namespace quellora
