#include "cli/background_loudness_meter.h"

namespace quellora {

BackgroundLoudnessMeter::BackgroundLoudnessMeter(const ChannelLayout& layout, int sampleRate)
    : meter(layout, sampleRate)
    , channels(layout.count)
    , worker([this] { run(); }) {}

BackgroundLoudnessMeter::~BackgroundLoudnessMeter() {
    {
        const std::lock_guard lock(mutex);
        queued.clear();
    }
    stop();
}

void BackgroundLoudnessMeter::add(std::span<const float> samples) {
    if (samples.empty()) {
        return;
    }
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return queued.size() < maxQueued || failure; });
    if (failure) {
        std::rethrow_exception(failure);
    }
    std::vector<float> buffer;
    if (!spare.empty()) {
        buffer = std::move(spare.back());
        spare.pop_back();
    }
    buffer.assign(samples.begin(), samples.end());
    queued.push_back(std::move(buffer));
    changed.notify_all();
}

LoudnessMeasurement BackgroundLoudnessMeter::finish() {
    stop();
    if (failure) {
        std::rethrow_exception(failure);
    }
    return meter.measurement();
}

void BackgroundLoudnessMeter::stop() {
    {
        const std::lock_guard lock(mutex);
        closing = true;
        changed.notify_all();
    }
    if (worker.joinable()) {
        worker.join();
    }
}

void BackgroundLoudnessMeter::run() {
    std::unique_lock lock(mutex);
    for (;;) {
        changed.wait(lock, [&] { return !queued.empty() || closing; });
        if (queued.empty()) {
            return;
        }
        auto buffer = std::move(queued.front());
        queued.pop_front();
        changed.notify_all();
        lock.unlock();
        std::exception_ptr error;
        try {
            meter.add(buffer.data(), static_cast<std::int64_t>(buffer.size()) / channels);
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        spare.push_back(std::move(buffer));
        if (error) {
            failure = error;
            queued.clear();
            changed.notify_all();
            return;
        }
    }
}

} // namespace quellora
