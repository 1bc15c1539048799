#include "cli/loudness_report.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

namespace quellora {
namespace {

constexpr std::string_view notMeasured = "n/a";

std::string formatValue(double value, std::string_view unit) {
    if (std::isinf(value) && value < 0.0) {
        return fmt::format("-inf {}", unit);
    }
    if (!std::isfinite(value)) {
        return std::string(notMeasured);
    }
    // Rounding can leave a minus sign on zero.
    const double rounded = std::round(value * 10.0) / 10.0;
    return fmt::format("{:.1f} {}", rounded == 0.0 ? 0.0 : rounded, unit);
}

using Row = std::array<std::string, 4>;

Row measurementRow(std::string_view label, const LoudnessMeasurement& measurement) {
    return {std::string(label), formatValue(measurement.integratedLufs, "LUFS"),
            formatValue(measurement.rangeLu, "LU"), formatValue(measurement.truePeakDbtp, "dBTP")};
}

} // namespace

std::string formatLoudnessReport(const LoudnessMeasurement& input,
                                 const LoudnessMeasurement& output, int sampleRate) {
    const std::array<Row, 3> rows{
        Row{"", "loudness", "range", "true peak"},
        measurementRow("input", input),
        measurementRow("output", output),
    };
    std::array<std::size_t, 4> widths{};
    for (const auto& row : rows) {
        for (std::size_t column = 0; column < row.size(); ++column) {
            widths[column] = std::max(widths[column], row[column].size());
        }
    }
    std::string table;
    for (const auto& row : rows) {
        std::string line = fmt::format("{:<{}}", row[0], widths[0]);
        for (std::size_t column = 1; column < row.size(); ++column) {
            line += fmt::format("  {:>{}}", row[column], widths[column]);
        }
        table += line + '\n';
    }
    if (!LoudnessMeter::measuresLoudnessAt(sampleRate)) {
        table += fmt::format("Loudness and range are not measurable at {} Hz: their weighting "
                             "needs a sample rate of at least {} Hz.\n",
                             sampleRate, LoudnessMeter::minLoudnessRate);
    } else if (std::any_of(rows.begin(), rows.end(), [](const Row& row) {
                   return std::find(row.begin(), row.end(), notMeasured) != row.end();
               })) {
        table += "n/a: not measurable, the audio holds samples that are not finite numbers.\n";
    }
    return table;
}

} // namespace quellora
