#pragma once

#include "engine/hal/simulated/simulated_buffer_list.h"
#include "engine/hal/simulated/simulated_io_proc_table.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace quellora {

// Fills an interleaved input buffer (frames × channels samples); runs on the IO thread.
using SimulatedInputSource =
    std::function<void(float* samples, std::uint32_t frames, std::uint32_t channels)>;
// Receives a device's output buffers after each cycle; runs on the IO thread.
using SimulatedOutputSink = std::function<void(const AudioBufferList& output)>;

// One device's hardware clock: a thread that runs a cycle of the device's
// procs every period, cycle k due k periods after the start. A late thread
// catches up, so the cycle count follows elapsed time at the device's rate.
// The buffers are built before the thread starts and reused, so nothing on
// the thread allocates.
class SimulatedDeviceClock {
public:
    struct Setup {
        std::chrono::duration<double> period{0.01};
        SimulatedBufferList input = SimulatedBufferList::empty();
        SimulatedBufferList output = SimulatedBufferList::empty();
        SimulatedInputSource fillInput{};  // optional
        SimulatedOutputSink drainOutput{}; // optional
    };

    SimulatedDeviceClock(std::shared_ptr<SimulatedIoProcTable> procs, Setup setup);
    ~SimulatedDeviceClock();

    SimulatedDeviceClock(const SimulatedDeviceClock&) = delete;
    SimulatedDeviceClock& operator=(const SimulatedDeviceClock&) = delete;

    // Returns once the thread has finished its last cycle.
    void stop();

private:
    void run();
    void runOneCycle();

    std::shared_ptr<SimulatedIoProcTable> procs_;
    Setup setup_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace quellora
