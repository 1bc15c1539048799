#pragma once

#include "child_process.h"

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace quellora::integration {

// How a systemd service unit restarts its service: the [Service] settings
// that decide it, read from the unit file as shipped. A private session has
// no systemd user manager (systemd refuses to run one on a machine it did not
// boot), so the tests emulate the manager's restart rules with these.
struct RestartPolicy {
    enum class Restart { no, onFailure, always };

    Restart restart = Restart::no;
    milliseconds restartDelay{100}; // RestartSec; systemd's default
    std::set<int> preventingExitStatuses;
    std::set<int> preventingSignals;
    std::vector<std::string> execStart; // split at spaces, as ExecStart is here

    // Throws std::runtime_error for a setting the emulation does not know,
    // so that a unit changed beyond it fails loudly instead of measuring
    // something else.
    static RestartPolicy parse(std::string_view unitText);
    static RestartPolicy read(const std::filesystem::path& unitFile);

    // Whether the manager starts the service again after its main process
    // exited with `exitCode` or was ended by `signal`.
    bool restartsAfter(std::optional<int> exitCode, std::optional<int> signal) const;
};

// Runs a service's command and restarts it as the systemd user manager would
// under `policy`: when the process ends and the policy says so, it starts it
// again `restartDelay` later. Supervises on a thread of its own, so that a
// test can kill the process and watch what follows. Its output is appended
// to `logFile`. The destructor stops the service as `systemctl stop` does
// (SIGTERM, no restart).
class ServiceSupervisor {
public:
    ServiceSupervisor(RestartPolicy policy, std::vector<std::string> command,
                      std::filesystem::path logFile);
    ~ServiceSupervisor();
    ServiceSupervisor(const ServiceSupervisor&) = delete;
    ServiceSupervisor& operator=(const ServiceSupervisor&) = delete;

    // How often the service has been started, the first start included.
    int starts() const { return starts_.load(); }
    // Sends `signal` to the service's running process; false when none runs
    // (it is waiting to be restarted, or the policy let it stay down).
    bool sendSignal(int signal);

private:
    void supervise();
    void start();

    RestartPolicy policy_;
    std::vector<std::string> command_;
    std::filesystem::path logFile_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<ChildProcess> process_; // guarded by mutex_
    bool stopping_ = false;               // guarded by mutex_
    std::atomic<int> starts_{0};
    std::thread thread_;
};

} // namespace quellora::integration
