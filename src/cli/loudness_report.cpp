#include "cli/loudness_report.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

namespace quellora {
namespace {

std::string formatValue(double value, std::string_view unit) {
    if (std::isnan(value)) {
        return fmt::format("? {}", unit);
    }
    if (std::isinf(value)) {
        return fmt::format("{}inf {}", value < 0.0 ? "-" : "", unit);
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
                                 const LoudnessMeasurement& output) {
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
    return table;
}

} // namespace quellora
