#include "engine/hal/simulated/simulated_buffer_list.h"

#include <algorithm>
#include <stdexcept>

namespace quellora {

SimulatedBufferList::SimulatedBufferList(std::vector<SimulatedBufferLayout> layout,
                                         std::uint32_t frames)
    : layout_(std::move(layout))
    , frames_(frames)
    , storage_(layout_.size())
    , buffers_(layout_.size()) {
    for (std::size_t index = 0; index < layout_.size(); ++index) {
        if (layout_[index].hasData) {
            storage_[index].resize(std::size_t{layout_[index].channels} * frames_);
        }
    }
    reset();
}

SimulatedBufferList SimulatedBufferList::interleaved(std::uint32_t channels, std::uint32_t frames) {
    return SimulatedBufferList({{channels, true}}, frames);
}

SimulatedBufferList SimulatedBufferList::planar(std::uint32_t channels, std::uint32_t frames) {
    return SimulatedBufferList(std::vector<SimulatedBufferLayout>(channels, {1, true}), frames);
}

SimulatedBufferList SimulatedBufferList::empty() {
    return SimulatedBufferList({}, 0);
}

std::span<float> SimulatedBufferList::samples(std::size_t buffer) {
    return storage_.at(buffer);
}

std::span<const float> SimulatedBufferList::samples(std::size_t buffer) const {
    return storage_.at(buffer);
}

float& SimulatedBufferList::at(std::size_t buffer, std::uint32_t frame, std::uint32_t channel) {
    return storage_[buffer][sampleIndex(buffer, frame, channel)];
}

float SimulatedBufferList::at(std::size_t buffer, std::uint32_t frame,
                              std::uint32_t channel) const {
    return storage_[buffer][sampleIndex(buffer, frame, channel)];
}

std::size_t SimulatedBufferList::sampleIndex(std::size_t buffer, std::uint32_t frame,
                                             std::uint32_t channel) const {
    if (buffer >= storage_.size() || storage_[buffer].empty() || frame >= frames_ ||
        channel >= layout_[buffer].channels) {
        throw std::out_of_range("SimulatedBufferList: no such sample");
    }
    return std::size_t{frame} * layout_[buffer].channels + channel;
}

void SimulatedBufferList::reset() noexcept {
    for (std::size_t index = 0; index < buffers_.size(); ++index) {
        auto& samples = storage_[index];
        std::fill(samples.begin(), samples.end(), 0.0f);
        buffers_[index].mNumberChannels = layout_[index].channels;
        // A buffer without data still states its nominal size: readers must
        // check the pointer, not the size.
        buffers_[index].mDataByteSize = static_cast<std::uint32_t>(
            std::size_t{layout_[index].channels} * frames_ * sizeof(float));
        buffers_[index].mData = layout_[index].hasData ? samples.data() : nullptr;
    }
    list_.mNumberBuffers = static_cast<std::uint32_t>(buffers_.size());
    list_.mBuffers = buffers_.empty() ? nullptr : buffers_.data();
}

} // namespace quellora
