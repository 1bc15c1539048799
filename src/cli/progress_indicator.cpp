#include "cli/progress_indicator.h"

#include <algorithm>

namespace quellora {
namespace {

// Shorter recordings are processed in well under a second.
constexpr std::int64_t minimumSeconds = 120;

constexpr char clearLine[] = "\r                \r";

} // namespace

bool showsProgress(bool isTerminal, std::int64_t frames, int sampleRate) {
    return isTerminal && sampleRate > 0 && frames / sampleRate >= minimumSeconds;
}

ProgressIndicator::ProgressIndicator(std::ostream& stream_, bool enabled_,
                                     std::int64_t totalFrames_)
    : stream(stream_)
    , enabled(enabled_ && totalFrames_ > 0)
    , totalFrames(totalFrames_) {}

ProgressIndicator::~ProgressIndicator() {
    clear();
}

void ProgressIndicator::update(std::int64_t doneFrames) {
    if (!enabled) {
        return;
    }
    // The header's frame count can be an estimate; never show more than 100%.
    const auto percent = static_cast<int>(
        std::min<std::int64_t>(100, std::max<std::int64_t>(0, doneFrames) * 100 / totalFrames));
    if (percent != shownPercent) {
        shownPercent = percent;
        stream << "\rProcessing\u2026 " << percent << '%' << std::flush;
    }
}

void ProgressIndicator::clear() {
    if (shownPercent >= 0) {
        stream << clearLine << std::flush;
        shownPercent = -1;
    }
}

} // namespace quellora
