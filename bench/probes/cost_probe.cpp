// What `quellora run` costs on a private PipeWire server at 48 kHz: CPU time
// while it compresses a playing stream at two quantum sizes, resident memory,
// and how often its threads wake while IO is suspended. Prints figures; it is
// a measurement, not a test.

#include "private_pipewire_session.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

namespace quellora::integration {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

struct ThreadTotals {
    std::int64_t cpuNanoseconds = 0;
    std::int64_t contextSwitches = 0;
    std::map<std::string, std::int64_t> switchesByThread; // by thread name
};

std::int64_t statusField(const fs::path& status, std::string_view key) {
    std::ifstream in(status);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0) {
            return std::stoll(line.substr(key.size()));
        }
    }
    return 0;
}

// Summed over every thread of `pid`: time on a CPU (schedstat, in ns) and
// context switches (each one a wake-up or a preemption).
ThreadTotals threadTotals(pid_t pid) {
    ThreadTotals totals;
    for (const auto& task :
         fs::directory_iterator(fs::path("/proc") / std::to_string(pid) / "task")) {
        std::ifstream schedstat(task.path() / "schedstat");
        std::int64_t onCpu = 0;
        schedstat >> onCpu;
        totals.cpuNanoseconds += onCpu;
        const auto switches = statusField(task.path() / "status", "voluntary_ctxt_switches:") +
                              statusField(task.path() / "status", "nonvoluntary_ctxt_switches:");
        totals.contextSwitches += switches;
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        totals.switchesByThread[name] += switches;
    }
    return totals;
}

double residentMegabytes(pid_t pid) {
    return static_cast<double>(
               statusField(fs::path("/proc") / std::to_string(pid) / "status", "VmRSS:")) /
           1024.0;
}

// The proportional share: shared library pages divided among their users.
double proportionalMegabytes(pid_t pid) {
    return static_cast<double>(
               statusField(fs::path("/proc") / std::to_string(pid) / "smaps_rollup", "Pss:")) /
           1024.0;
}

// Share of one core over `window`, context switches per second, and which
// threads woke (switches per second by thread name).
struct Cost {
    double cpuPercent = 0;
    double switchesPerSecond = 0;
    std::map<std::string, double> switchesByThread;
};

Cost measure(pid_t pid, std::chrono::seconds window) {
    const auto before = threadTotals(pid);
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(window);
    const auto after = threadTotals(pid);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Cost cost{100.0 * static_cast<double>(after.cpuNanoseconds - before.cpuNanoseconds) /
                  (seconds * 1e9),
              static_cast<double>(after.contextSwitches - before.contextSwitches) / seconds,
              {}};
    for (const auto& [name, switches] : after.switchesByThread) {
        const auto earlier = before.switchesByThread.find(name);
        cost.switchesByThread[name] =
            static_cast<double>(switches -
                                (earlier == before.switchesByThread.end() ? 0 : earlier->second)) /
            seconds;
    }
    return cost;
}

int probe() {
    PrivatePipeWireSession session;
    auto quellora = ChildProcess::start({QUELLORA_EXECUTABLE, "run"});
    if (!quellora.waitForOutput("Quellora is on.\n", 10s)) {
        std::cerr << "quellora run did not start:\n" << quellora.errors();
        return 1;
    }
    std::cout << "quellora run on a private PipeWire server, 48 kHz, a -12 dBFS tone playing\n";
    for (const int quantum : {2048, 256}) {
        session.forceQuantum(quantum);
        auto playback = session.play(tone(-12.0, 40.0));
        std::this_thread::sleep_for(3s); // routed, built, settled
        const auto cost = measure(quellora.pid(), 20s);
        std::cout << "  quantum " << quantum << ": " << cost.cpuPercent << " % of one core, "
                  << cost.switchesPerSecond << " context switches/s, "
                  << residentMegabytes(quellora.pid()) << " MB resident ("
                  << proportionalMegabytes(quellora.pid()) << " MB PSS)\n";
        playback.stop();
    }
    session.forceQuantum(0);
    std::this_thread::sleep_for(4s); // two idle seconds suspend IO
    const auto cost = measure(quellora.pid(), 20s);
    std::cout << "  suspended: " << cost.cpuPercent << " % of one core, " << cost.switchesPerSecond
              << " context switches/s, " << residentMegabytes(quellora.pid()) << " MB resident ("
              << proportionalMegabytes(quellora.pid()) << " MB PSS); wake-ups/s by thread:";
    for (const auto& [name, perSecond] : cost.switchesByThread) {
        std::cout << " " << name << " " << perSecond;
    }
    std::cout << '\n';
    return 0;
}

} // namespace
} // namespace quellora::integration

int main() {
    try {
        return quellora::integration::probe();
    } catch (const std::exception& error) {
        std::cerr << "cost probe: " << error.what() << '\n';
        return 1;
    }
}
