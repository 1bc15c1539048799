#include "cli/offline_processor.h"

#include <algorithm>

namespace quellora {

OfflineProcessor::OfflineProcessor(const Settings& settings)
    : layout(settings.layout)
    , channels(settings.layout.count)
    , blockFrames(settings.blockFrames)
    , align(settings.align)
    , keepBlockMeters(settings.keepBlockMeters) {
    chain.selectKind(settings.chain);
    chain.setProgrammeTarget(settings.programmeTarget);
    chain.updateParams(settings.params, settings.sampleRate);
    chain.reset();
    framesToDrop = align ? lookaheadFrames() : 0;
}

std::span<const float> OfflineProcessor::process(float* frames, std::int64_t frameCount) {
    meters.clear();
    compressBlocks(frames, frameCount);
    return dropLookahead(frames, frameCount);
}

std::span<const float> OfflineProcessor::finish() {
    meters.clear();
    if (!align) {
        return {};
    }
    const auto lookahead = lookaheadFrames();
    flush.assign(static_cast<std::size_t>(lookahead * channels), 0.0f);
    compressBlocks(flush.data(), lookahead);
    return dropLookahead(flush.data(), lookahead);
}

void OfflineProcessor::compressBlocks(float* frames, std::int64_t frameCount) {
    for (std::int64_t done = 0; done < frameCount; done += blockFrames) {
        const auto count = std::min(blockFrames, frameCount - done);
        float* block = frames + done * channels;
        const auto pushedBefore = chain.compressor().levelBuffer().writeCount();
        chain.processInterleaved(block, count, layout);
        // A compressor that cannot run at this rate passes the block through
        // and pushes no meter sample; there is then nothing to log.
        if (keepBlockMeters && chain.compressor().levelBuffer().writeCount() != pushedBefore) {
            meters.push_back(chain.compressor().levelBuffer().recentSamples(1).front());
        }
    }
}

std::span<const float> OfflineProcessor::dropLookahead(const float* frames,
                                                       std::int64_t frameCount) {
    const auto dropped = std::min(framesToDrop, frameCount);
    framesToDrop -= dropped;
    return {frames + dropped * channels,
            static_cast<std::size_t>((frameCount - dropped) * channels)};
}

} // namespace quellora
