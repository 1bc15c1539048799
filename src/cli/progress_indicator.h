#pragma once

#include <cstdint>
#include <ostream>

namespace quellora {

// Whether a job over `frames` frames deserves a progress display: only on a
// terminal, and only when it runs long enough to be watched.
bool showsProgress(bool isTerminal, std::int64_t frames, int sampleRate);

// "\rProcessing… 42%" on one terminal line, redrawn when the percentage
// changes and wiped when done (also when the job ends early).
class ProgressIndicator {
public:
    ProgressIndicator(std::ostream& stream, bool enabled, std::int64_t totalFrames);
    ~ProgressIndicator();
    ProgressIndicator(const ProgressIndicator&) = delete;
    ProgressIndicator& operator=(const ProgressIndicator&) = delete;

    void update(std::int64_t doneFrames);
    void clear();

private:
    std::ostream& stream;
    bool enabled;
    std::int64_t totalFrames;
    int shownPercent = -1;
};

} // namespace quellora
