#pragma once

#include "cli/replacement_file.h"
#include "dsp/level_sample.h"

#include <filesystem>
#include <span>
#include <string>

namespace quellora {

// The per-block meter log of `quellora process --meters`: one line per
// compressor call, no header, "inputPeak,outputPeak,gainReduction" in dB,
// each in the shortest form that reads back as the same float. The file
// replaces its target only on commit.
class MeterCsvWriter {
public:
    // Throws CommandError (failure) when the file cannot be created.
    explicit MeterCsvWriter(const std::filesystem::path& path);

    // Throws CommandError (failure).
    void add(std::span<const LevelSample> samples);
    void commit();

private:
    void flush();

    ReplacementFile file;
    std::string pending;
};

} // namespace quellora
