#pragma once

#include <functional>
#include <memory>

namespace quellora {

// While it lives, SIGINT and SIGTERM no longer end the process: each one
// calls `handler` with the signal number on the Qt event loop of the thread
// that created the watcher, where the application can shut down through its
// model. The signal handler itself only writes to a pipe. The previous
// handlers come back when the watcher is destroyed. One at a time per process.
class TerminationSignalWatcher {
public:
    explicit TerminationSignalWatcher(std::function<void(int signal)> handler);
    ~TerminationSignalWatcher();
    TerminationSignalWatcher(const TerminationSignalWatcher&) = delete;
    TerminationSignalWatcher& operator=(const TerminationSignalWatcher&) = delete;

private:
    struct Pipe;
    std::unique_ptr<Pipe> pipe_;
};

} // namespace quellora
