#include "engine/hal/simulated/simulated_io_proc_table.h"

#include <algorithm>

namespace quellora {

void SimulatedIoProcTable::add(AudioDeviceIOProcID id, AudioDeviceIOBlock block) {
    const std::scoped_lock lock(mutex_);
    procs_.push_back({id, std::move(block), false});
}

bool SimulatedIoProcTable::remove(AudioDeviceIOProcID id) {
    AudioDeviceIOBlock removed;
    {
        const std::scoped_lock lock(mutex_);
        const auto proc = find(id);
        if (proc == procs_.end()) {
            return false;
        }
        removed = std::move(proc->block);
        procs_.erase(proc);
    }
    // The block's captures are released outside the lock.
    return true;
}

bool SimulatedIoProcTable::setStarted(AudioDeviceIOProcID id, bool started) {
    const std::scoped_lock lock(mutex_);
    const auto proc = find(id);
    if (proc == procs_.end()) {
        return false;
    }
    proc->started = started;
    return true;
}

void SimulatedIoProcTable::clear() {
    std::vector<Proc> removed;
    const std::scoped_lock lock(mutex_);
    removed.swap(procs_);
}

bool SimulatedIoProcTable::contains(AudioDeviceIOProcID id) const {
    const std::scoped_lock lock(mutex_);
    return find(id) != procs_.end();
}

std::size_t SimulatedIoProcTable::count() const {
    const std::scoped_lock lock(mutex_);
    return procs_.size();
}

std::size_t SimulatedIoProcTable::startedCount() const {
    const std::scoped_lock lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(procs_.begin(), procs_.end(), [](const Proc& proc) { return proc.started; }));
}

int SimulatedIoProcTable::runCycle(const AudioBufferList& input, AudioBufferList& output) {
    int ran = 0;
    {
        const std::scoped_lock lock(mutex_);
        for (auto& proc : procs_) {
            if (proc.started) {
                proc.block(input, output);
                ++ran;
            }
        }
        ++cycles_;
    }
    cycleCompleted_.notify_all();
    return ran;
}

std::uint64_t SimulatedIoProcTable::cycleCount() const {
    const std::scoped_lock lock(mutex_);
    return cycles_;
}

bool SimulatedIoProcTable::waitForCycles(std::uint64_t cycles,
                                         std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return cycleCompleted_.wait_for(lock, timeout, [&] { return cycles_ >= cycles; });
}

std::vector<SimulatedIoProcTable::Proc>::iterator
SimulatedIoProcTable::find(AudioDeviceIOProcID id) {
    return std::find_if(procs_.begin(), procs_.end(),
                        [id](const Proc& proc) { return proc.id == id; });
}

std::vector<SimulatedIoProcTable::Proc>::const_iterator
SimulatedIoProcTable::find(AudioDeviceIOProcID id) const {
    return std::find_if(procs_.begin(), procs_.end(),
                        [id](const Proc& proc) { return proc.id == id; });
}

} // namespace quellora
