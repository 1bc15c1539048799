#include "engine/hal/simulated/simulated_device_clock.h"

namespace quellora {

SimulatedDeviceClock::SimulatedDeviceClock(std::shared_ptr<SimulatedIoProcTable> procs, Setup setup)
    : procs_(std::move(procs))
    , setup_(std::move(setup)) {
    thread_ = std::thread([this] { run(); });
}

SimulatedDeviceClock::~SimulatedDeviceClock() {
    stop();
}

void SimulatedDeviceClock::stop() {
    {
        const std::scoped_lock lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void SimulatedDeviceClock::run() {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    for (std::uint64_t cycle = 0;; ++cycle) {
        const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                     setup_.period * static_cast<double>(cycle));
        {
            std::unique_lock lock(mutex_);
            if (wake_.wait_until(lock, due, [this] { return stopping_; })) {
                return;
            }
        }
        runOneCycle();
    }
}

void SimulatedDeviceClock::runOneCycle() {
    setup_.input.reset();
    if (setup_.fillInput && setup_.input.bufferCount() > 0) {
        const auto samples = setup_.input.samples(0);
        setup_.fillInput(samples.data(), setup_.input.frames(), setup_.input.channels(0));
    }
    setup_.output.reset();
    procs_->runCycle(setup_.input.list(), setup_.output.list());
    if (setup_.drainOutput) {
        setup_.drainOutput(setup_.output.list());
    }
}

} // namespace quellora
