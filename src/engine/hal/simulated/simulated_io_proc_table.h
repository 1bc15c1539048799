#pragma once

#include "engine/hal/audio_hal.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace quellora {

// The IO procs of one device and the cycles run on it. A cycle holds the
// table's lock while it calls the started procs, so stopping or removing a
// proc from the main thread waits for a cycle in progress on an IO thread, and
// the proc is not called after that returns.
class SimulatedIoProcTable {
public:
    void add(AudioDeviceIOProcID id, AudioDeviceIOBlock block);
    // False when the table has no such proc.
    bool remove(AudioDeviceIOProcID id);
    bool setStarted(AudioDeviceIOProcID id, bool started);
    void clear();

    bool contains(AudioDeviceIOProcID id) const;
    std::size_t count() const;
    std::size_t startedCount() const;

    // Calls every started proc once, in creation order; how many ran.
    int runCycle(const AudioBufferList& input, AudioBufferList& output);

    std::uint64_t cycleCount() const;
    // Waits until `cycles` cycles have completed in all; false on timeout.
    bool waitForCycles(std::uint64_t cycles, std::chrono::milliseconds timeout) const;

private:
    struct Proc {
        AudioDeviceIOProcID id;
        AudioDeviceIOBlock block;
        bool started = false;
    };

    std::vector<Proc>::iterator find(AudioDeviceIOProcID id);
    std::vector<Proc>::const_iterator find(AudioDeviceIOProcID id) const;

    mutable std::mutex mutex_;
    mutable std::condition_variable cycleCompleted_;
    std::vector<Proc> procs_;
    std::uint64_t cycles_ = 0;
};

} // namespace quellora
