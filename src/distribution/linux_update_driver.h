#pragma once

#include "base/dispatcher.h"
#include "base/lifetime.h"
#include "base/log.h"
#include "distribution/privileged_runner.h"
#include "distribution/update_driver.h"
#include "distribution/update_feed.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quellora {

struct LinuxUpdateSettings {
    std::string feedUrl;
    Ed25519PublicKey publicKey{};
    SemanticVersion runningVersion;
    std::filesystem::path cacheDirectory;
    // Started again once an update is installed.
    std::filesystem::path executable;
    // quellora-install-update, run as root to install a staged package.
    std::filesystem::path installer;
    // Certificates to trust for https instead of the system's; empty in use.
    std::filesystem::path certificateAuthorities;
};

struct LinuxUpdateServices {
    Dispatcher& mainQueue;
    // Transfers, verification and the package installer run here, never on
    // the main queue.
    std::shared_ptr<Dispatcher> worker;
    std::shared_ptr<PrivilegedRunner> privileged;
    // Ends the application after a successful installation and starts
    // `command` once this instance has left the session: started any earlier,
    // the new one would find this one still running and hand over to it.
    std::function<void(std::vector<std::string> command)> quitAndRelaunch;
};

// Updates from a signed feed: checks at start and then daily, over https
// only. A feed counts only once its release signature (over version, address,
// size and hash together) verifies, and only for a version newer than this
// one; the package is downloaded into the user's cache and staged only after
// its size, SHA-256 and own control data match. Installing hands the staged
// package and the feed to quellora-install-update behind the administrator
// prompt, which verifies a copy of its own again as root before installing
// it, and relaunches. Nothing installs by itself at quit: that would put an
// administrator prompt in the way of logging out. Every failure on the worker
// is logged and the next check goes ahead.
class LinuxUpdateDriver final : public UpdateDriver {
public:
    static constexpr Dispatcher::Duration checkInterval = std::chrono::hours(24);
    static constexpr Dispatcher::Duration checkLeeway = std::chrono::hours(1);

    LinuxUpdateDriver(LinuxUpdateSettings settings, LinuxUpdateServices services);
    ~LinuxUpdateDriver() override;

    void setEvents(Events events) override { events_ = std::move(events); }
    void start() override;
    bool automaticallyChecksForUpdates() const override { return automaticallyChecks_; }
    void setAutomaticallyChecksForUpdates(bool enabled) override { automaticallyChecks_ = enabled; }
    void setAutomaticallyDownloadsUpdates(bool enabled) override {
        automaticallyDownloads_ = enabled;
    }
    void checkForUpdatesInBackground() override;

    struct Staged {
        UpdateFeed feed;
        std::filesystem::path package;
    };
    struct CheckOutcome;
    struct InstallOutcome;

private:
    void finishCheck(CheckOutcome outcome);
    void install(const Staged& staged);
    void finishInstall(const InstallOutcome& outcome);

    LinuxUpdateSettings settings_;
    LinuxUpdateServices services_;
    Logger log_{"Updater"};
    Events events_;
    bool automaticallyChecks_ = false;
    bool automaticallyDownloads_ = false;
    bool started_ = false;
    bool checking_ = false;
    bool installing_ = false;
    std::optional<Staged> staged_;
    std::unique_ptr<RepeatingTimer> checkTimer_;
    // Ends a transfer in flight when the driver goes.
    std::shared_ptr<std::atomic<bool>> cancelled_ = std::make_shared<std::atomic<bool>>(false);
    Lifetime lifetime_; // last: closures stop working before anything else goes
};

// Stands in where this installation has no updater: does nothing at all.
class InactiveUpdateDriver final : public UpdateDriver {
public:
    void setEvents(Events) override {}
    void start() override {}
    bool automaticallyChecksForUpdates() const override { return false; }
    void setAutomaticallyChecksForUpdates(bool) override {}
    void setAutomaticallyDownloadsUpdates(bool) override {}
    void checkForUpdatesInBackground() override {}
};

// The driver configured by the update.json installed beside `executable`:
// a LinuxUpdateDriver when it names an https feed and a valid public key,
// otherwise an InactiveUpdateDriver (and the reason is logged). The installer
// is <prefix>/lib/quellora/quellora-install-update beside <prefix>/bin.
std::shared_ptr<UpdateDriver> makeUpdateDriver(const std::filesystem::path& executable,
                                               const std::filesystem::path& cacheDirectory,
                                               LinuxUpdateServices services);

// The same for this process: its own executable, the user's cache, a worker
// thread and pkexec.
std::shared_ptr<UpdateDriver>
makeUpdateDriver(Dispatcher& mainQueue,
                 std::function<void(std::vector<std::string> command)> quitAndRelaunch);

// Where the installer lies for the executable <prefix>/bin/quellora.
std::filesystem::path installerFor(const std::filesystem::path& executable);

} // namespace quellora
