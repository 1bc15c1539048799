#include "distribution/linux_update_driver.h"

#include "base/file_system.h"
#include "base/thread_dispatcher.h"
#include "distribution/debian_package.h"
#include "distribution/http_transfer.h"
#include "distribution/update_configuration.h"
#include "distribution/update_installation.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace quellora {

namespace fs = std::filesystem;

struct LinuxUpdateDriver::CheckOutcome {
    enum class Kind { nothingNew, failed, staged };
    Kind kind = Kind::nothingNew;
    LogLevel level = LogLevel::debug;
    std::string message;
    std::optional<Staged> staged;
};

struct LinuxUpdateDriver::InstallOutcome {
    Staged staged;
    // The staged file no longer verifies on this side: why. Otherwise the
    // installer helper ran (or could not be started).
    std::optional<std::string> rejected;
    int status = -1;
    std::string message; // the helper's own account, or why it did not run
};

namespace {

using CheckOutcome = LinuxUpdateDriver::CheckOutcome;
using Kind = CheckOutcome::Kind;

struct CheckRequest {
    std::string feedUrl;
    Ed25519PublicKey publicKey;
    SemanticVersion runningVersion;
    fs::path cacheDirectory;
    fs::path certificateAuthorities;
    bool download = false;
    std::optional<SemanticVersion> stagedVersion;
};

CheckOutcome outcome(Kind kind, LogLevel level, std::string message) {
    return {kind, level, std::move(message), std::nullopt};
}

// Partial downloads are dot files; finished ones are named by their version.
constexpr std::string_view partialPrefix = ".quellora-";

fs::path packagePath(const fs::path& directory, const SemanticVersion& version) {
    return directory / ("quellora-" + version.text() + ".deb");
}

// Removes downloads cut short and, with `keep`, every package but that one.
void removeStaleFiles(const fs::path& directory, const std::optional<fs::path>& keep) {
    std::error_code error;
    for (fs::directory_iterator entry(directory, error), end; !error && entry != end;
         entry.increment(error)) {
        const auto name = entry->path().filename().string();
        const bool partial = name.starts_with(partialPrefix);
        const bool package = name.starts_with("quellora-") && name.ends_with(".deb");
        if (partial || (keep && package && entry->path() != *keep)) {
            std::error_code ignored;
            fs::remove(entry->path(), ignored);
        }
    }
}

// Downloads into a temporary file that becomes the package only once it verifies.
CheckOutcome downloadAndVerify(const CheckRequest& request, const UpdateFeed& feed,
                               const std::atomic<bool>& cancelled) {
    const auto version = feed.version.text();
    const auto destination = packagePath(request.cacheDirectory, feed.version);
    try {
        createDirectories(request.cacheDirectory, 0700);
    } catch (const std::exception& error) {
        return outcome(Kind::failed, LogLevel::error,
                       fmt::format("Cannot store update {}: {}", version, error.what()));
    }
    removeStaleFiles(request.cacheDirectory, std::nullopt);

    auto temporary =
        (request.cacheDirectory / (std::string(partialPrefix) + version + ".deb.XXXXXX")).string();
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return outcome(Kind::failed, LogLevel::error,
                       fmt::format("Cannot store update {}: {}", version, std::strerror(errno)));
    }
    const auto discard = [&](LogLevel level, const std::string& message) {
        ::close(fd);
        ::unlink(temporary.c_str());
        return outcome(Kind::failed, level, message);
    };
    try {
        HttpTransfer(cancelled, request.certificateAuthorities).download(feed.url, fd, feed.size);
    } catch (const HttpTransferError& error) {
        return discard(LogLevel::notice,
                       fmt::format("Download of update {} failed: {}; trying again at the next "
                                   "check.",
                                   version, error.what()));
    }
    if (::fchmod(fd, 0644) != 0 || ::fsync(fd) != 0) {
        return discard(LogLevel::error,
                       fmt::format("Cannot store update {}: {}", version, std::strerror(errno)));
    }
    auto problem = verifyPackageContents(fd, feed);
    if (!problem) {
        problem = packageIdentityProblem(temporary, feed.version);
    }
    if (problem) {
        return discard(LogLevel::error,
                       fmt::format("Discarded the download of update {}: {}.", version, *problem));
    }
    ::close(fd);
    if (::rename(temporary.c_str(), destination.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return outcome(Kind::failed, LogLevel::error,
                       fmt::format("Cannot store update {}: {}", version, std::strerror(error)));
    }
    syncDirectory(request.cacheDirectory);
    return {Kind::staged, LogLevel::notice,
            fmt::format("Update {} downloaded and verified.", version),
            LinuxUpdateDriver::Staged{feed, destination}};
}

// One check, start to end, on the worker: feed, version, download, verification.
CheckOutcome runCheck(const CheckRequest& request, const std::atomic<bool>& cancelled) {
    std::string text;
    try {
        text = HttpTransfer(cancelled, request.certificateAuthorities)
                   .fetch(request.feedUrl, UpdateFeed::maxFeedBytes);
    } catch (const HttpTransferError& error) {
        return outcome(
            Kind::failed, LogLevel::notice,
            fmt::format("Update check failed: {}; trying again at the next check.", error.what()));
    }
    // Nothing the feed says is used before its signature verifies: not the
    // version for the banner, not the address or size for the download.
    UpdateFeed feed;
    try {
        feed = decodeSignedUpdateFeed(text, request.publicKey);
    } catch (const UpdateFeedError& error) {
        return outcome(Kind::failed, LogLevel::error,
                       fmt::format("Ignoring the update feed: {}.", error.what()));
    }
    const auto version = feed.version.text();
    if (!(feed.version > request.runningVersion)) {
        return outcome(Kind::nothingNew, LogLevel::debug,
                       fmt::format("No update: the feed offers {} and this is {}.", version,
                                   request.runningVersion.text()));
    }
    if (request.stagedVersion && *request.stagedVersion == feed.version) {
        return outcome(Kind::nothingNew, LogLevel::debug,
                       fmt::format("Update {} is already staged.", version));
    }
    if (!request.download) {
        return outcome(
            Kind::nothingNew, LogLevel::notice,
            fmt::format("Update {} is available; automatic downloads are off.", version));
    }
    // A package that an earlier run downloaded and verified needs no second download.
    const auto existing = packagePath(request.cacheDirectory, feed.version);
    std::error_code error;
    if (fs::exists(existing, error)) {
        if (!verifyPackageFile(existing, feed) && !packageIdentityProblem(existing, feed.version)) {
            return {Kind::staged, LogLevel::notice,
                    fmt::format("Update {} was already downloaded and verifies.", version),
                    LinuxUpdateDriver::Staged{feed, existing}};
        }
        fs::remove(existing, error);
    }
    auto result = downloadAndVerify(request, feed, cancelled);
    if (result.staged) {
        removeStaleFiles(request.cacheDirectory, result.staged->package);
    }
    return result;
}

// A worker task that fails in a way nobody foresaw (an unreadable cache
// folder, memory) ends as a logged failure, never as the end of the process.
template <typename Task, typename Failure>
auto guarded(Task task, Failure failure) -> decltype(task()) {
    try {
        return task();
    } catch (const std::exception& error) {
        return failure(error.what());
    } catch (...) {
        return failure("an unknown error");
    }
}

LinuxUpdateDriver::InstallOutcome runInstall(const LinuxUpdateDriver::Staged& staged,
                                             const fs::path& installer,
                                             PrivilegedRunner& privileged) {
    LinuxUpdateDriver::InstallOutcome result{staged, std::nullopt, -1, {}};
    // Checked here as well, so that a file changed while it waited asks for
    // no password; the helper checks its own copy again all the same.
    auto problem = verifyPackageFile(staged.package, staged.feed);
    if (!problem) {
        problem = packageIdentityProblem(staged.package, staged.feed.version);
    }
    if (problem) {
        result.rejected = problem;
        std::error_code ignored;
        fs::remove(staged.package, ignored);
        return result;
    }
    auto ran = privileged.run(installer, {staged.package.string(), encodeUpdateFeed(staged.feed)});
    result.status = ran.status;
    while (!ran.output.empty() && (ran.output.back() == '\n' || ran.output.back() == '.')) {
        ran.output.pop_back();
    }
    result.message = std::move(ran.output);
    return result;
}

} // namespace

LinuxUpdateDriver::LinuxUpdateDriver(LinuxUpdateSettings settings, LinuxUpdateServices services)
    : settings_(std::move(settings))
    , services_(std::move(services)) {}

LinuxUpdateDriver::~LinuxUpdateDriver() {
    cancelled_->store(true, std::memory_order_relaxed);
}

void LinuxUpdateDriver::start() {
    if (started_) {
        return;
    }
    started_ = true;
    checkTimer_ = services_.mainQueue.startRepeatingTimer(checkInterval, checkInterval, checkLeeway,
                                                          lifetime_.guard([this] {
                                                              if (automaticallyChecks_) {
                                                                  checkForUpdatesInBackground();
                                                              }
                                                          }));
    if (automaticallyChecks_) {
        checkForUpdatesInBackground();
    }
}

void LinuxUpdateDriver::checkForUpdatesInBackground() {
    if (!started_ || checking_) {
        return;
    }
    checking_ = true;
    CheckRequest request{settings_.feedUrl,
                         settings_.publicKey,
                         settings_.runningVersion,
                         settings_.cacheDirectory,
                         settings_.certificateAuthorities,
                         automaticallyDownloads_,
                         staged_ ? std::optional(staged_->feed.version) : std::nullopt};
    auto finish = lifetime_.guard([this](CheckOutcome result) { finishCheck(std::move(result)); });
    services_.worker->post([request = std::move(request), cancelled = cancelled_,
                            &mainQueue = services_.mainQueue, finish = std::move(finish)] {
        auto result = guarded([&] { return runCheck(request, *cancelled); },
                              [](const std::string& what) {
                                  return outcome(Kind::failed, LogLevel::error,
                                                 fmt::format("Update check failed: {}; trying "
                                                             "again at the next check.",
                                                             what));
                              });
        mainQueue.post([finish, result = std::move(result)] { finish(result); });
    });
}

void LinuxUpdateDriver::finishCheck(CheckOutcome outcome) {
    checking_ = false;
    switch (outcome.level) {
    case LogLevel::debug:
        log_.debug("%{public}s", outcome.message);
        break;
    case LogLevel::notice:
        log_.notice("%{public}s", outcome.message);
        break;
    default:
        log_.error("%{public}s", outcome.message);
        break;
    }
    if (outcome.kind != Kind::staged || !outcome.staged) {
        return;
    }
    staged_ = *outcome.staged;
    if (events_.willInstallOnQuit) {
        events_.willInstallOnQuit(lifetime_.guard([this, staged = *staged_] { install(staged); }));
    }
}

void LinuxUpdateDriver::install(const Staged& staged) {
    if (installing_) {
        return;
    }
    installing_ = true;
    log_.notice("Installing update %{public}s from %{public}s.", staged.feed.version.text(),
                staged.package.string());
    auto finish = lifetime_.guard([this](const InstallOutcome& result) { finishInstall(result); });
    services_.worker->post([staged, installer = settings_.installer,
                            privileged = services_.privileged, &mainQueue = services_.mainQueue,
                            finish = std::move(finish)] {
        auto result = guarded([&] { return runInstall(staged, installer, *privileged); },
                              [&](const std::string& what) {
                                  return InstallOutcome{staged, std::nullopt, -1, what};
                              });
        mainQueue.post([finish, result = std::move(result)] { finish(result); });
    });
}

void LinuxUpdateDriver::finishInstall(const InstallOutcome& outcome) {
    installing_ = false;
    const auto version = outcome.staged.feed.version.text();
    const auto& said = outcome.message;
    if (outcome.rejected || outcome.status == UpdateInstallerExit::rejected) {
        log_.error("Discarded staged update %{public}s before installing: %{public}s.", version,
                   outcome.rejected ? *outcome.rejected : said);
        std::error_code ignored;
        fs::remove(outcome.staged.package, ignored);
        staged_.reset();
    } else if (outcome.status == UpdateInstallerExit::installed) {
        log_.notice("Installed update %{public}s; relaunching.", version);
        installing_ = true; // this process is on its way out
        if (services_.quitAndRelaunch) {
            services_.quitAndRelaunch({settings_.executable.string()});
        }
        return;
    } else if (outcome.status == PrivilegedRunner::promptDismissed ||
               outcome.status == PrivilegedRunner::notAuthorised) {
        log_.notice("Update %{public}s not installed: the administrator prompt was dismissed or "
                    "not authorised (exit status %{public}d); it stays staged.",
                    version, outcome.status);
    } else if (outcome.status < 0) {
        log_.error("Update %{public}s not installed: the installer could not be started "
                   "(%{public}s); it stays staged.",
                   version, said.empty() ? std::string("pkexec is missing") : said);
    } else {
        log_.error("Update %{public}s not installed: %{public}s (exit status %{public}d); it "
                   "stays staged.",
                   version, said.empty() ? std::string("the installer failed") : said,
                   outcome.status);
    }
    if (events_.installDidNotComplete) {
        events_.installDidNotComplete();
    }
}

fs::path installerFor(const fs::path& executable) {
    return executable.parent_path().parent_path() / "lib" / "quellora" / "quellora-install-update";
}

std::shared_ptr<UpdateDriver> makeUpdateDriver(const fs::path& executable,
                                               const fs::path& cacheDirectory,
                                               LinuxUpdateServices services) {
    const Logger log("Updater");
    const auto location = UpdateConfiguration::locationFor(executable);
    UpdateConfiguration configuration;
    try {
        const auto text = readFileIfPresent(location, UpdateFeed::maxFeedBytes);
        if (!text) {
            log.info("Updates are off: there is no %{public}s.", location.string());
            return std::make_shared<InactiveUpdateDriver>();
        }
        configuration = UpdateConfiguration::decode(*text);
    } catch (const std::exception& error) {
        log.error("Updates are off: %{public}s.", error.what());
        return std::make_shared<InactiveUpdateDriver>();
    }
    if (configuration.feed.empty()) {
        log.info("Updates are off: this build names no update feed.");
        return std::make_shared<InactiveUpdateDriver>();
    }
    if (!isHttpsUrl(configuration.feed)) {
        log.error("Updates are off: the feed %{public}s in %{public}s is not an https address.",
                  configuration.feed, location.string());
        return std::make_shared<InactiveUpdateDriver>();
    }
    const auto publicKey = decodePublicKey(configuration.publicKey);
    if (!publicKey) {
        log.error("Updates are off: the public key in %{public}s is not a base64 Ed25519 key.",
                  location.string());
        return std::make_shared<InactiveUpdateDriver>();
    }
    const auto runningVersion = SemanticVersion::parse(QUELLORA_VERSION);
    if (!runningVersion) {
        log.error("Updates are off: this build's version %{public}s is not a version number.",
                  QUELLORA_VERSION);
        return std::make_shared<InactiveUpdateDriver>();
    }
    return std::make_shared<LinuxUpdateDriver>(LinuxUpdateSettings{configuration.feed,
                                                                   *publicKey,
                                                                   *runningVersion,
                                                                   cacheDirectory,
                                                                   executable,
                                                                   installerFor(executable),
                                                                   {}},
                                               std::move(services));
}

std::shared_ptr<UpdateDriver>
makeUpdateDriver(Dispatcher& mainQueue,
                 std::function<void(std::vector<std::string> command)> quitAndRelaunch) {
    std::error_code error;
    const auto executable = fs::canonical("/proc/self/exe", error);
    fs::path cacheDirectory;
    try {
        cacheDirectory = defaultUpdateCacheDirectory();
    } catch (const std::exception& failure) {
        Logger("Updater").error("Updates are off: %{public}s.", failure.what());
        return std::make_shared<InactiveUpdateDriver>();
    }
    if (error) {
        Logger("Updater").error("Updates are off: cannot find this executable: %{public}s.",
                                error.message());
        return std::make_shared<InactiveUpdateDriver>();
    }
    return makeUpdateDriver(executable, cacheDirectory,
                            {mainQueue, std::make_shared<ThreadDispatcher>(),
                             std::make_shared<PkexecRunner>(), std::move(quitAndRelaunch)});
}

} // namespace quellora
