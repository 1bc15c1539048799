#include "service_supervisor.h"

#include <csignal>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace quellora::integration {
namespace {

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string> words(std::string_view text) {
    std::istringstream stream{std::string(text)};
    std::vector<std::string> split;
    for (std::string word; stream >> word;) {
        split.push_back(word);
    }
    return split;
}

// A systemd time span: "1", "1.5s", "500ms", "1min 30s"; a bare number is seconds.
milliseconds timeSpan(std::string_view text) {
    static const std::map<std::string, double, std::less<>> unitMs{
        {"", 1000.0}, {"s", 1000.0},  {"sec", 1000.0},
        {"ms", 1.0},  {"m", 60000.0}, {"min", 60000.0}};
    double total = 0.0;
    std::string rest(trimmed(text));
    while (!rest.empty()) {
        std::size_t used = 0;
        const double value = std::stod(rest, &used);
        const auto unitEnd = rest.find_first_of("0123456789 ", used);
        const auto unit =
            rest.substr(used, unitEnd == std::string::npos ? std::string::npos : unitEnd - used);
        const auto found = unitMs.find(unit);
        if (found == unitMs.end()) {
            throw std::runtime_error("time span \"" + std::string(text) + "\" has unit \"" + unit +
                                     "\", which the emulation does not know");
        }
        total += value * found->second;
        rest = std::string(trimmed(unitEnd == std::string::npos ? "" : rest.substr(unitEnd)));
    }
    return milliseconds(static_cast<milliseconds::rep>(total));
}

int signalNumber(std::string name) {
    static const std::map<std::string, int> signals{
        {"HUP", SIGHUP},   {"INT", SIGINT},   {"QUIT", SIGQUIT}, {"ABRT", SIGABRT},
        {"KILL", SIGKILL}, {"SEGV", SIGSEGV}, {"PIPE", SIGPIPE}, {"TERM", SIGTERM},
        {"USR1", SIGUSR1}, {"USR2", SIGUSR2}};
    if (name.rfind("SIG", 0) == 0) {
        name = name.substr(3);
    }
    const auto found = signals.find(name);
    if (found == signals.end()) {
        throw std::runtime_error("unknown signal " + name);
    }
    return found->second;
}

} // namespace

RestartPolicy RestartPolicy::parse(std::string_view unitText) {
    RestartPolicy policy;
    std::string section;
    std::istringstream lines{std::string(unitText)};
    for (std::string raw; std::getline(lines, raw);) {
        const auto line = trimmed(raw);
        if (line.empty() || line.front() == '#' || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            section = std::string(line);
            continue;
        }
        const auto equals = line.find('=');
        if (section != "[Service]" || equals == std::string_view::npos) {
            continue;
        }
        const auto key = trimmed(line.substr(0, equals));
        const auto value = trimmed(line.substr(equals + 1));
        if (key == "ExecStart") {
            policy.execStart = words(value);
        } else if (key == "Restart") {
            static const std::map<std::string_view, Restart> modes{
                {"no", Restart::no},
                {"on-failure", Restart::onFailure},
                {"always", Restart::always}};
            const auto mode = modes.find(value);
            if (mode == modes.end()) {
                throw std::runtime_error("Restart=" + std::string(value) + " is not emulated");
            }
            policy.restart = mode->second;
        } else if (key == "RestartSec") {
            policy.restartDelay = timeSpan(value);
        } else if (key == "RestartPreventExitStatus") {
            for (const auto& status : words(value)) {
                if (status.find_first_not_of("0123456789") == std::string::npos) {
                    policy.preventingExitStatuses.insert(std::stoi(status));
                } else {
                    policy.preventingSignals.insert(signalNumber(status));
                }
            }
        } else if (key == "SuccessExitStatus" || key == "RestartForceExitStatus" ||
                   key.rfind("Restart", 0) == 0) {
            throw std::runtime_error(std::string(key) + " is not emulated");
        }
    }
    if (policy.execStart.empty()) {
        throw std::runtime_error("the unit has no ExecStart");
    }
    return policy;
}

RestartPolicy RestartPolicy::read(const std::filesystem::path& unitFile) {
    std::ifstream file(unitFile);
    if (!file) {
        throw std::runtime_error("cannot read " + unitFile.string());
    }
    std::ostringstream text;
    text << file.rdbuf();
    return parse(text.str());
}

bool RestartPolicy::restartsAfter(std::optional<int> exitCode, std::optional<int> signal) const {
    if ((exitCode && preventingExitStatuses.count(*exitCode) != 0) ||
        (signal && preventingSignals.count(*signal) != 0)) {
        return false;
    }
    switch (restart) {
    case Restart::no:
        return false;
    case Restart::always:
        return true;
    case Restart::onFailure:
        // The signals systemd counts as a clean end.
        if (signal) {
            return *signal != SIGHUP && *signal != SIGINT && *signal != SIGTERM &&
                   *signal != SIGPIPE;
        }
        return exitCode.value_or(0) != 0;
    }
    return false;
}

ServiceSupervisor::ServiceSupervisor(RestartPolicy policy, std::vector<std::string> command,
                                     std::filesystem::path logFile)
    : policy_(std::move(policy))
    , command_(std::move(command))
    , logFile_(std::move(logFile)) {
    start();
    thread_ = std::thread([this] { supervise(); });
}

ServiceSupervisor::~ServiceSupervisor() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    if (process_) {
        process_->stop();
    }
}

bool ServiceSupervisor::sendSignal(int signal) {
    const std::lock_guard lock(mutex_);
    if (!process_ || !process_->isRunning()) {
        return false;
    }
    process_->sendSignal(signal);
    return true;
}

void ServiceSupervisor::start() {
    ChildProcess::Options options;
    options.logFile = logFile_;
    process_.emplace(ChildProcess::start(command_, options));
    ++starts_;
}

void ServiceSupervisor::supervise() {
    // The manager hears of the exit at once (SIGCHLD); polling every
    // millisecond comes close enough.
    constexpr milliseconds pollInterval(1);
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (wake_.wait_for(lock, pollInterval, [this] { return stopping_; })) {
            break;
        }
        if (!process_ || process_->isRunning()) {
            continue;
        }
        const auto signal = process_->terminatingSignal();
        const auto exitCode = signal ? std::nullopt : process_->exitStatus();
        process_.reset();
        if (!policy_.restartsAfter(exitCode, signal)) {
            break;
        }
        if (wake_.wait_for(lock, policy_.restartDelay, [this] { return stopping_; })) {
            break;
        }
        start();
    }
}

} // namespace quellora::integration
