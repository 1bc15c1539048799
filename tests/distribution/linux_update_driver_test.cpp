#include "base/file_system.h"
#include "base/manual_dispatcher.h"
#include "base/thread_dispatcher.h"
#include "distribution/linux_update_driver.h"
#include "distribution/loopback_http_server.h"
#include "support/log_capture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sodium.h>
#include <stdlib.h>

#include <fstream>
#include <functional>
#include <future>

namespace quellora {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using testing::LoopbackHttpServer;

struct ScriptedRunner final : CommandRunner {
    int run(const std::vector<std::string>& arguments) override {
        commands.push_back(arguments);
        return exitStatus;
    }
    bool launchDetached(const std::vector<std::string>& arguments) override {
        launched.push_back(arguments);
        return true;
    }
    int exitStatus = 0;
    std::vector<std::vector<std::string>> commands;
    std::vector<std::vector<std::string>> launched;
};

const std::string package = std::string(300000, 'q') + "the package";

std::vector<std::string> filesIn(const fs::path& directory) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(directory, error)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

class LinuxUpdateDriverTest : public ::testing::Test {
public:
    LinuxUpdateDriverTest() { crypto_sign_keypair(publicKey_.data(), secretKey_.data()); }
    ~LinuxUpdateDriverTest() override {
        driver_.reset();
        fs::remove_all(root_);
    }

    // A release signed by `signer`, its package served as `served` with
    // `announced` as its length.
    void publish(const std::string& version, const std::string& served = package,
                 std::optional<std::size_t> announced = {},
                 const Ed25519SecretKey* signer = nullptr) {
        server_.serve("/feed.json", {encodeSignedUpdateFeed(signer ? *signer : secretKey_, package,
                                                            version, server_.url("/quellora.deb")),
                                     {}});
        server_.serve("/quellora.deb", {served, announced});
    }

    LinuxUpdateDriver& startDriver(std::string feedUrl = {}) {
        driver_ = std::make_unique<LinuxUpdateDriver>(
            LinuxUpdateSettings{feedUrl.empty() ? server_.url("/feed.json") : feedUrl, publicKey_,
                                *SemanticVersion::parse("1.0.0"), cache_, "/usr/bin/quellora"},
            LinuxUpdateServices{mainQueue_, worker_, runner_, [this] {
                                    ++quits_;
                                }});
        startRecording(*driver_);
        settle();
        return *driver_;
    }
    void startRecording(UpdateDriver& driver) {
        UpdateDriver::Events events;
        events.willInstallOnQuit = [this](auto block) {
            blocks_.push_back(block);
        };
        events.installDidNotComplete = [this] {
            ++incomplete_;
        };
        driver.setEvents(events);
        driver.setAutomaticallyChecksForUpdates(true);
        driver.setAutomaticallyDownloadsUpdates(true);
        driver.start();
    }
    void settle() {
        worker_->runUntilIdle();
        mainQueue_.runUntilIdle();
    }

    testing::LogCapture log_;
    LoopbackHttpServer server_;
    ManualDispatcher mainQueue_;
    std::shared_ptr<ManualDispatcher> worker_ = std::make_shared<ManualDispatcher>();
    std::shared_ptr<ScriptedRunner> runner_ = std::make_shared<ScriptedRunner>();
    Ed25519PublicKey publicKey_{};
    Ed25519SecretKey secretKey_{};
    fs::path root_ = [] {
        auto pattern = (fs::temp_directory_path() / "quellora-updates-XXXXXX").string();
        return fs::path(::mkdtemp(pattern.data()));
    }();
    fs::path cache_ = root_ / "cache" / "quellora" / "updates";
    std::unique_ptr<LinuxUpdateDriver> driver_;
    std::vector<UpdateDriver::InstallNow> blocks_;
    int quits_ = 0;
    int incomplete_ = 0;
};

TEST_F(LinuxUpdateDriverTest, NewerReleaseIsDownloadedVerifiedAndStaged) {
    publish("1.1.0");
    startDriver();
    ASSERT_EQ(blocks_.size(), 1u);
    EXPECT_THAT(filesIn(cache_), ElementsAre("quellora-1.1.0.deb")) << "no partial file is left";
    EXPECT_EQ(*readFileIfPresent(cache_ / "quellora-1.1.0.deb", package.size()), package);

    driver_->checkForUpdatesInBackground(); // the same release again: nothing new
    settle();
    EXPECT_EQ(blocks_.size(), 1u);
}

TEST_F(LinuxUpdateDriverTest, SameOrOlderReleasesAreIgnored) {
    for (const auto* version : {"1.0.0", "0.9.9", "1.0.0-rc.1"}) {
        publish(version);
        startDriver();
        EXPECT_TRUE(blocks_.empty()) << version;
        EXPECT_TRUE(filesIn(cache_).empty()) << version;
        EXPECT_TRUE(log_.countStartingWith("No update: the feed offers " + std::string(version)));
    }
}

struct Rejection {
    const char* name;
    std::string served;
    std::optional<std::size_t> announced;
    const char* logged;
    bool signedByAnotherKey = false;
    const char* feed = nullptr; // served instead of the publisher's
    bool unreachable = false;
};
void PrintTo(const Rejection& rejection, std::ostream* out) {
    *out << rejection.name;
}

class RejectedUpdateTest : public LinuxUpdateDriverTest,
                           public ::testing::WithParamInterface<Rejection> {};

TEST_P(RejectedUpdateTest, NothingIsStagedOrLeftBehindAndTheReasonIsLogged) {
    const auto& row = GetParam();
    Ed25519PublicKey otherPublic{};
    Ed25519SecretKey other{};
    crypto_sign_keypair(otherPublic.data(), other.data());
    publish("1.1.0", row.served, row.announced, row.signedByAnotherKey ? &other : nullptr);
    if (row.feed) {
        server_.serve("/feed.json", {row.feed, {}});
    }
    const auto closed = std::to_string(LoopbackHttpServer::closedPort());
    startDriver(row.unreachable ? "http://127.0.0.1:" + closed + "/feed.json" : "");
    EXPECT_TRUE(blocks_.empty());
    EXPECT_TRUE(filesIn(cache_).empty());
    const auto messages = log_.messages();
    EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [&](const std::string& message) {
        return message.find(row.logged) != std::string::npos;
    })) << row.logged;
}

const std::string tampered = std::string(package).replace(10, 1, "x");

INSTANTIATE_TEST_SUITE_P(
    Downloads, RejectedUpdateTest,
    ::testing::Values(
        Rejection{"TamperedBytes", tampered, {}, "1.1.0: its SHA-256 does not match the feed"},
        Rejection{"SignedByAnotherKey",
                  package,
                  {},
                  "its signature does not verify with the publisher's key",
                  true},
        Rejection{"CutShort", package.substr(0, 1000), package.size(),
                  "Download of update 1.1.0 failed: transfer closed"},
        Rejection{"Shorter", package.substr(0, 1000), {}, "it has 1000 bytes instead of 300011"},
        Rejection{"Larger", package + "more", {}, "more than the expected 300011 bytes"},
        Rejection{"Unsigned",
                  package,
                  {},
                  "Ignoring the update feed: \"signature\"",
                  false,
                  R"({"version": "1.1.0", "url": "http://x/q", "size": 5, "sha256": ")"
                  "0000000000000000000000000000000000000000000000000000000000000000"
                  R"(", "signature": ""})"},
        Rejection{"ServerUnreachable",
                  package,
                  {},
                  "Update check failed: Failed to connect",
                  false,
                  nullptr,
                  true}));

TEST_F(LinuxUpdateDriverTest, AFailedCheckIsRetriedAtTheNextDailyCheck) {
    startDriver();
    publish("1.1.0");
    mainQueue_.advance(LinuxUpdateDriver::checkInterval - std::chrono::seconds(1));
    settle();
    EXPECT_TRUE(blocks_.empty());
    mainQueue_.advance(std::chrono::seconds(1));
    settle();
    EXPECT_EQ(blocks_.size(), 1u);
}

struct Installation {
    int exitStatus;
    bool relaunched;
    const char* logged;
};
void PrintTo(const Installation& installation, std::ostream* out) {
    *out << "exit status " << installation.exitStatus;
}

class InstallationTest : public LinuxUpdateDriverTest,
                         public ::testing::WithParamInterface<Installation> {};

TEST_P(InstallationTest, RunsTheInstallerBehindTheAdministratorPrompt) {
    publish("1.1.0");
    startDriver();
    ASSERT_EQ(blocks_.size(), 1u);
    runner_->exitStatus = GetParam().exitStatus;
    blocks_[0]();
    blocks_[0](); // a second click while the prompt is up
    settle();

    const auto staged = (cache_ / "quellora-1.1.0.deb").string();
    EXPECT_THAT(runner_->commands,
                ElementsAre(ElementsAre("/usr/bin/pkexec", "/usr/bin/apt-get", "install", "-y",
                                        "--reinstall", staged)));
    EXPECT_EQ(runner_->launched.size(), GetParam().relaunched ? 1u : 0u);
    EXPECT_EQ(quits_, GetParam().relaunched ? 1 : 0);
    EXPECT_EQ(incomplete_, GetParam().relaunched ? 0 : 1);
    EXPECT_TRUE(fs::exists(staged)) << "a failed installation keeps the staged file";
    EXPECT_TRUE(log_.countStartingWith(GetParam().logged));
    if (GetParam().relaunched) {
        EXPECT_THAT(runner_->launched[0], ElementsAre("/usr/bin/quellora"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    ExitStatuses, InstallationTest,
    ::testing::Values(Installation{0, true, "Installed update 1.1.0; relaunching."},
                      Installation{126, false,
                                   "Update 1.1.0 not installed: the administrator "
                                   "prompt was dismissed"},
                      Installation{127, false, "Update 1.1.0 not installed: the administrator"},
                      Installation{1, false,
                                   "Update 1.1.0 not installed: the package installer "
                                   "failed with exit status 1"}));

TEST_F(LinuxUpdateDriverTest, AStagedPackageChangedOnDiskIsNeverInstalled) {
    publish("1.1.0");
    startDriver();
    ASSERT_EQ(blocks_.size(), 1u);
    std::ofstream(cache_ / "quellora-1.1.0.deb", std::ios::binary | std::ios::trunc)
        << std::string(package.size(), 'e');
    blocks_[0]();
    settle();
    EXPECT_TRUE(runner_->commands.empty());
    EXPECT_TRUE(filesIn(cache_).empty());
    EXPECT_EQ(incomplete_, 1);
}

TEST_F(LinuxUpdateDriverTest, ThreadedWorkerHandsTheStagedReleaseToTheMainQueue) {
    publish("2.0.0");
    const auto worker = std::make_shared<ThreadDispatcher>();
    LinuxUpdateDriver driver(
        {server_.url("/feed.json"), publicKey_, *SemanticVersion::parse("1.0.0"), cache_, {}},
        {mainQueue_, worker, runner_, {}});
    startRecording(driver);
    // The worker is serial: this runs once the check has handed its result over.
    std::promise<void> checked;
    worker->post([&checked] { checked.set_value(); });
    checked.get_future().wait();
    mainQueue_.runUntilIdle();
    EXPECT_EQ(blocks_.size(), 1u);
}

TEST_F(LinuxUpdateDriverTest, OnlyAnInstalledFeedWithAValidKeyMakesAnActiveDriver) {
    const auto key = encodeBase64({reinterpret_cast<const char*>(publicKey_.data()), 32});
    const std::pair<std::string, bool> cases[] = {
        {"", false},
        {R"({"feed": "https://q.org/f.json", "publicKey": "c2hvcnQ="})", false},
        {R"({"feed": "https://q.org/f.json", "publicKey": ")" + key + "\"}", true},
    };
    for (const auto& [text, active] : cases) {
        fs::remove_all(root_ / "prefix");
        if (!text.empty()) {
            fs::create_directories(root_ / "prefix" / "share" / "quellora");
            std::ofstream(root_ / "prefix" / "share" / "quellora" / "update.json") << text;
        }
        const auto driver = makeUpdateDriver(root_ / "prefix" / "bin" / "quellora", cache_,
                                             {mainQueue_, worker_, runner_, {}});
        EXPECT_EQ(dynamic_cast<LinuxUpdateDriver*>(driver.get()) != nullptr, active) << text;
    }
}

} // namespace
} // namespace quellora
