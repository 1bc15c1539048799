#include "ui/views/idle_noise.h"

#include <array>
#include <cmath>
#include <cstdint>

namespace quellora {
namespace {

constexpr int gradientCount = 256;

std::array<double, gradientCount> makeGradients() {
    std::array<double, gradientCount> gradients{};
    std::uint64_t state = 42;
    for (auto& gradient : gradients) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        gradient = std::ldexp(static_cast<double>(state >> 1), -63);
    }
    return gradients;
}

// The table index of lattice point `k`: a whole number, but possibly
// negative, beyond every integer type or not finite, as a clock before or far
// from its epoch or a broken one can make it.
std::size_t gradientIndex(double k) {
    const double wrapped = std::fmod(k, gradientCount);
    if (std::isnan(wrapped)) {
        return 0;
    }
    return static_cast<std::size_t>(wrapped < 0.0 ? wrapped + gradientCount : wrapped);
}

// The fixed pseudo-random slopes of the idle noise, made once.
const std::array<double, gradientCount>& noiseGradients() {
    static const auto gradients = makeGradients();
    return gradients;
}

} // namespace

double idleNoise(double p) {
    // Rounded down, not towards zero, so that the fraction stays in [0, 1)
    // and the noise bounded before the clock's epoch as well.
    const double k = std::floor(p);
    const double f = p - k;
    const auto& gradients = noiseGradients();
    const double ga = f * gradients[gradientIndex(k)];
    const double gb = (f - 1.0) * gradients[gradientIndex(k + 1.0)];
    return ga + f * f * (3.0 - 2.0 * f) * (gb - ga);
}

double idleLineValue(double u) {
    return (idleNoise(u) + 0.5 * idleNoise(2.0 * u)) / 1.5;
}

QPolygonF idleLine(const QRectF& band, double seconds, double amplitude) {
    constexpr double inset = 8.0;
    constexpr double spacing = 4.0;
    QPolygonF line;
    for (double x = band.left() + inset; x <= band.right() - inset; x += spacing) {
        const double u = 0.4 * seconds + 4.0 * (x - band.left()) / band.width();
        line << QPointF(x, band.center().y() + amplitude * idleLineValue(u));
    }
    return line;
}

} // namespace quellora
