#include "base/manual_dispatcher.h"
#include "base/thread_dispatcher.h"
#include "distribution/linux_update_driver.h"
#include "distribution/loopback_http_server.h"
#include "distribution/release_fixtures.h"
#include "distribution/update_installation.h"
#include "support/log_capture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <future>

namespace quellora {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using testing::LoopbackHttpServer;
using testing::readFile;
using testing::writeFile;

std::vector<std::string> filesIn(const fs::path& directory) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(directory, error)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

// Stands in for pkexec: "authorises" at once and runs the installer helper's
// own code in this process, with a private folder the test owns in place of
// /var/cache and a recording package installer in place of apt-get.
// `duringPrompt` runs where the administrator would be typing a password:
// the time the user's other programs have to act.
struct InProcessPrivilegedRunner final : PrivilegedRunner {
    CommandOutput run(const fs::path& program, const std::vector<std::string>& arguments) override {
        programs.push_back(program);
        if (duringPrompt) {
            duringPrompt();
        }
        if (promptStatus) {
            return {*promptStatus, {}};
        }
        if (refusal) {
            throw std::runtime_error(refusal);
        }
        const UpdateInstallEnvironment environment{
            publicKey, *SemanticVersion::parse("1.0.0"), privateParent, std::nullopt,
            [this](const fs::path& package) {
                installed.push_back({package, readFile(package)});
                if (duringInstall) {
                    duringInstall();
                }
                return installerStatus;
            }};
        const auto outcome = installStagedUpdate({arguments.at(0), arguments.at(1)}, environment);
        return {outcome.exitStatus, outcome.message + "\n"};
    }

    Ed25519PublicKey publicKey{};
    fs::path privateParent;
    std::optional<int> promptStatus;
    const char* refusal = nullptr;
    int installerStatus = 0;
    std::function<void()> duringPrompt;
    std::function<void()> duringInstall;
    std::vector<fs::path> programs;
    std::vector<std::pair<fs::path, std::string>> installed; // path and bytes at install time
};

class LinuxUpdateDriverTest : public ::testing::Test {
public:
    LinuxUpdateDriverTest() {
        fs::create_directories(privateParent_);
        fs::permissions(privateParent_, fs::perms::owner_all);
        privileged_->publicKey = publisher_.publicKey;
        privileged_->privateParent = privateParent_;
    }
    ~LinuxUpdateDriverTest() override { driver_.reset(); }

    // A release: its feed signed by `signer`, its package served as
    // `served` (the real package unless given) with `announced` as length.
    void publish(const std::string& version, std::optional<std::string> served = {},
                 std::optional<std::size_t> announced = {},
                 const testing::Publisher* signer = nullptr) {
        const auto package = testing::debianPackage("quellora", version);
        server_.serve(
            "/feed.json",
            {(signer ? *signer : publisher_).feed(package, version, server_.url("/quellora.deb")),
             {},
             {}});
        server_.serve("/quellora.deb", {served.value_or(package), announced, {}});
    }

    LinuxUpdateDriver& startDriver(std::string feedUrl = {}) {
        driver_ = std::make_unique<LinuxUpdateDriver>(
            LinuxUpdateSettings{feedUrl.empty() ? server_.url("/feed.json") : feedUrl,
                                publisher_.publicKey, *SemanticVersion::parse("1.0.0"), cache_,
                                "/usr/bin/quellora", installer_,
                                LoopbackHttpServer::certificateFile()},
            LinuxUpdateServices{mainQueue_, worker_, privileged_,
                                [this](std::vector<std::string> command) {
                                    relaunched_.push_back(std::move(command));
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
    void installStaged() {
        ASSERT_EQ(blocks_.size(), 1u);
        blocks_[0]();
        settle();
    }
    bool logged(const std::string& text) const {
        const auto messages = log_.messages();
        return std::any_of(messages.begin(), messages.end(), [&](const std::string& message) {
            return message.find(text) != std::string::npos;
        });
    }
    fs::path staged(const std::string& version = "1.1.0") const {
        return cache_ / ("quellora-" + version + ".deb");
    }

    testing::LogCapture log_;
    LoopbackHttpServer server_;
    testing::Publisher publisher_;
    testing::TemporaryDirectory root_;
    fs::path cache_ = root_.path() / "cache" / "quellora" / "updates";
    fs::path privateParent_ = root_.path() / "root-only";
    fs::path installer_ = "/usr/lib/quellora/quellora-install-update";
    ManualDispatcher mainQueue_;
    std::shared_ptr<ManualDispatcher> worker_ = std::make_shared<ManualDispatcher>();
    std::shared_ptr<InProcessPrivilegedRunner> privileged_ =
        std::make_shared<InProcessPrivilegedRunner>();
    std::unique_ptr<LinuxUpdateDriver> driver_;
    std::vector<UpdateDriver::InstallNow> blocks_;
    std::vector<std::vector<std::string>> relaunched_;
    int incomplete_ = 0;
};

TEST_F(LinuxUpdateDriverTest, NewerReleaseIsDownloadedVerifiedAndStaged) {
    publish("1.1.0");
    startDriver();
    ASSERT_EQ(blocks_.size(), 1u);
    EXPECT_THAT(filesIn(cache_), ElementsAre("quellora-1.1.0.deb")) << "no partial file is left";
    EXPECT_EQ(readFile(staged()), testing::debianPackage("quellora", "1.1.0"));

    driver_->checkForUpdatesInBackground(); // the same release again: nothing new
    settle();
    EXPECT_EQ(blocks_.size(), 1u);
    EXPECT_EQ(server_.requests("/quellora.deb"), 1);
}

TEST_F(LinuxUpdateDriverTest, SameOrOlderReleasesAreIgnored) {
    for (const auto* version : {"1.0.0", "0.9.9", "1.0.0-rc.1"}) {
        publish(version);
        startDriver();
        EXPECT_TRUE(blocks_.empty()) << version;
        EXPECT_TRUE(filesIn(cache_).empty()) << version;
        EXPECT_TRUE(log_.countStartingWith("No update: the feed offers " + std::string(version)));
    }
    EXPECT_EQ(server_.requests("/quellora.deb"), 0);
}

class RejectedUpdateTest;

struct Rejection {
    const char* name;
    std::function<void(RejectedUpdateTest&)> arrange;
    const char* logged;
    bool downloads; // whether the package was fetched before the refusal
};
void PrintTo(const Rejection& rejection, std::ostream* out) {
    *out << rejection.name;
}

class RejectedUpdateTest : public LinuxUpdateDriverTest,
                           public ::testing::WithParamInterface<Rejection> {
public:
    // The feed as published, with `field` changed after it was signed.
    void relabel(const std::string& field, const std::string& value) {
        publish("1.1.0");
        auto feed = publisher_.feed(testing::debianPackage("quellora", "1.1.0"), "1.1.0",
                                    server_.url("/quellora.deb"));
        const auto at = feed.find("\"" + field + "\": ") + field.size() + 4;
        feed.replace(at, feed.find_first_of(",\n", at) - at, value);
        server_.serve("/feed.json", {feed, {}, {}});
    }
    std::string feedUrl;
};

TEST_P(RejectedUpdateTest, NothingIsStagedOrLeftBehindAndTheReasonIsLogged) {
    GetParam().arrange(*this);
    startDriver(feedUrl);
    EXPECT_TRUE(blocks_.empty());
    EXPECT_TRUE(filesIn(cache_).empty());
    EXPECT_TRUE(logged(GetParam().logged)) << GetParam().logged;
    EXPECT_EQ(server_.requests("/quellora.deb"), GetParam().downloads ? 1 : 0);
}

const auto package = [] {
    return testing::debianPackage("quellora", "1.1.0");
};
const auto tampered = [] {
    return std::string(package()).replace(100, 1, "x");
};

INSTANTIATE_TEST_SUITE_P(
    Downloads, RejectedUpdateTest,
    ::testing::Values(
        Rejection{"TamperedBytes", [](auto& test) { test.publish("1.1.0", tampered()); },
                  "1.1.0: its SHA-256 does not match the feed", true},
        Rejection{"RelabelledAsALaterVersion",
                  [](auto& test) { test.relabel("version", "\"9.9.9\""); },
                  "Ignoring the update feed: its release signature does not verify", false},
        Rejection{
            "CutShort",
            [](auto& test) { test.publish("1.1.0", package().substr(0, 1000), package().size()); },
            "Download of update 1.1.0 failed: transfer closed", true},
        Rejection{"Shorter", [](auto& test) { test.publish("1.1.0", package().substr(0, 1000)); },
                  "it has 1000 bytes instead of", true},
        Rejection{"Larger", [](auto& test) { test.publish("1.1.0", package() + "more"); },
                  "more than the expected", true},
        Rejection{
            "ControlDataNamesAnotherVersion",
            [](auto& test) {
                const auto other = testing::debianPackage("quellora", "2.0.0");
                test.server_.serve(
                    "/feed.json",
                    {test.publisher_.feed(other, "1.1.0", test.server_.url("/q.deb")), {}, {}});
                test.server_.serve("/q.deb", {other, {}, {}});
            },
            "it holds version 2.0.0, not the announced 1.1.0", false},
        Rejection{"Unsigned",
                  [](auto& test) {
                      test.server_.serve("/feed.json",
                                         {R"({"version": "1.1.0", "url": "https://x/q", "size": 5,
                                           "sha256": ")" +
                                              std::string(64, '0') + R"("})",
                                          {},
                                          {}});
                  },
                  "Ignoring the update feed: the feed has no \"releaseSignature\"", false},
        Rejection{"RedirectedToPlainHttp",
                  [](auto& test) {
                      test.publish("1.1.0");
                      static LoopbackHttpServer plain(LoopbackHttpServer::Scheme::http);
                      plain.serve("/feed.json", {test.server_.url("/feed.json"), {}, {}});
                      test.server_.serve("/redirect", {{}, {}, plain.url("/feed.json")});
                      test.feedUrl = test.server_.url("/redirect");
                  },
                  "Update check failed: Protocol \"http\" not supported", false},
        Rejection{"ServerUnreachable",
                  [](auto& test) {
                      test.feedUrl =
                          "https://127.0.0.1:" + std::to_string(LoopbackHttpServer::closedPort()) +
                          "/feed.json";
                  },
                  "Update check failed: Failed to connect", false}),
    [](const auto& row) { return std::string(row.param.name); });

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

TEST_F(LinuxUpdateDriverTest, InstallsOnlyARootOwnedVerifiedCopyAndRelaunches) {
    publish("1.1.0");
    startDriver();
    // The user's programs replace the staged file once the copy is taken.
    privileged_->duringInstall = [this] {
        writeFile(staged(), tampered());
    };
    blocks_[0]();
    blocks_[0](); // a second click while the prompt is up
    settle();

    EXPECT_THAT(privileged_->programs, ElementsAre(installer_));
    ASSERT_EQ(privileged_->installed.size(), 1u);
    const auto& [copy, bytes] = privileged_->installed[0];
    EXPECT_EQ(copy.parent_path().parent_path(), privateParent_);
    EXPECT_EQ(bytes, package()) << "what was installed is what was verified";
    EXPECT_TRUE(fs::is_empty(privateParent_)) << "the copy's folder is removed";
    EXPECT_THAT(relaunched_, ElementsAre(ElementsAre("/usr/bin/quellora")));
    EXPECT_EQ(incomplete_, 0);
    EXPECT_TRUE(log_.countStartingWith("Installed update 1.1.0; relaunching."));
}

struct NotInstalled {
    const char* name;
    std::optional<int> promptStatus;
    int installerStatus;
    const char* logged;
};
void PrintTo(const NotInstalled& row, std::ostream* out) {
    *out << row.name;
}

class NotInstalledTest : public LinuxUpdateDriverTest,
                         public ::testing::WithParamInterface<NotInstalled> {};

TEST_P(NotInstalledTest, KeepsTheStagedUpdateToTryAgain) {
    publish("1.1.0");
    startDriver();
    privileged_->promptStatus = GetParam().promptStatus;
    privileged_->installerStatus = GetParam().installerStatus;
    installStaged();
    EXPECT_TRUE(relaunched_.empty());
    EXPECT_EQ(incomplete_, 1);
    EXPECT_TRUE(fs::exists(staged()));
    EXPECT_TRUE(logged(GetParam().logged)) << GetParam().logged;

    privileged_->promptStatus.reset();
    privileged_->installerStatus = 0;
    blocks_[0]();
    settle();
    EXPECT_EQ(relaunched_.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, NotInstalledTest,
    ::testing::Values(NotInstalled{"PromptDismissed", 126, 0,
                                   "Update 1.1.0 not installed: the administrator prompt was "
                                   "dismissed or not authorised (exit status 126)"},
                      NotInstalled{"PackageInstallerFailed", std::nullopt, 100,
                                   "Update 1.1.0 not installed: the package installer failed "
                                   "with exit status 100 (exit status 3)"}),
    [](const auto& row) { return std::string(row.param.name); });

// What the user's programs can do while the administrator prompt is up.
struct Interference {
    const char* name;
    std::function<void(LinuxUpdateDriverTest&)> act;
    const char* logged;
};
void PrintTo(const Interference& row, std::ostream* out) {
    *out << row.name;
}

class InterferenceTest : public LinuxUpdateDriverTest,
                         public ::testing::WithParamInterface<Interference> {};

TEST_P(InterferenceTest, AfterTheUserSideCheckNothingButWhatWasSignedIsInstalled) {
    publish("1.1.0");
    startDriver();
    privileged_->duringPrompt = [this] {
        GetParam().act(*this);
    };
    installStaged();
    EXPECT_TRUE(privileged_->installed.empty());
    EXPECT_TRUE(relaunched_.empty());
    EXPECT_EQ(incomplete_, 1);
    EXPECT_TRUE(logged("Discarded staged update 1.1.0 before installing: the staged package"));
    EXPECT_TRUE(logged(GetParam().logged)) << GetParam().logged;
    EXPECT_TRUE(fs::is_empty(privateParent_));
}

INSTANTIATE_TEST_SUITE_P(
    DuringThePrompt, InterferenceTest,
    ::testing::Values(Interference{"FileSwapped",
                                   [](auto& test) { writeFile(test.staged(), tampered()); },
                                   "its SHA-256 does not match the feed"},
                      Interference{"FolderReplacedByASymlink",
                                   [](auto& test) {
                                       const auto elsewhere = test.root_.path() / "elsewhere";
                                       fs::create_directories(elsewhere);
                                       writeFile(elsewhere / "quellora-1.1.0.deb", tampered());
                                       fs::remove_all(test.cache_);
                                       fs::create_directory_symlink(elsewhere, test.cache_);
                                   },
                                   "its SHA-256 does not match the feed"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(LinuxUpdateDriverTest, AStagedPackageChangedBeforeInstallingAsksForNoPassword) {
    publish("1.1.0");
    startDriver();
    writeFile(staged(), tampered());
    installStaged();
    EXPECT_TRUE(privileged_->programs.empty());
    EXPECT_TRUE(filesIn(cache_).empty());
    EXPECT_EQ(incomplete_, 1);
}

TEST_F(LinuxUpdateDriverTest, FailuresOnTheWorkerAreLoggedAndTheUpdaterCarriesOn) {
    // A cache path the file system cannot even look up.
    cache_ = root_.path() / std::string(300, 'c');
    publish("1.1.0");
    startDriver();
    EXPECT_TRUE(blocks_.empty());
    EXPECT_TRUE(logged("File name too long")) << "the reason reaches the log";

    cache_ = root_.path() / "cache";
    startDriver();
    privileged_->refusal = "refusing to run it as root: /usr can be changed by others";
    installStaged();
    EXPECT_TRUE(logged("Update 1.1.0 not installed: the installer could not be started (refusing "
                       "to run it as root"));
    EXPECT_EQ(incomplete_, 1);

    privileged_->refusal = nullptr;
    blocks_[0]();
    settle();
    EXPECT_EQ(relaunched_.size(), 1u);
}

TEST_F(LinuxUpdateDriverTest, ThreadedWorkerHandsTheStagedReleaseToTheMainQueue) {
    publish("2.0.0");
    const auto worker = std::make_shared<ThreadDispatcher>();
    LinuxUpdateDriver driver({server_.url("/feed.json"),
                              publisher_.publicKey,
                              *SemanticVersion::parse("1.0.0"),
                              cache_,
                              {},
                              installer_,
                              LoopbackHttpServer::certificateFile()},
                             {mainQueue_, worker, privileged_, {}});
    startRecording(driver);
    // The worker is serial: this runs once the check has handed its result over.
    std::promise<void> checked;
    worker->post([&checked] { checked.set_value(); });
    checked.get_future().wait();
    mainQueue_.runUntilIdle();
    EXPECT_EQ(blocks_.size(), 1u);
}

TEST_F(LinuxUpdateDriverTest, OnlyAnInstalledHttpsFeedWithAValidKeyMakesAnActiveDriver) {
    const auto key = encodeBase64({reinterpret_cast<const char*>(publisher_.publicKey.data()), 32});
    const std::pair<std::string, bool> cases[] = {
        {"", false},
        {R"({"feed": "https://q.org/f.json", "publicKey": "c2hvcnQ="})", false},
        {R"({"feed": "http://q.org/f.json", "publicKey": ")" + key + "\"}", false},
        {R"({"feed": "https://q.org/f.json", "publicKey": ")" + key + "\"}", true},
    };
    const auto prefix = root_.path() / "prefix";
    for (const auto& [text, active] : cases) {
        fs::remove_all(prefix);
        if (!text.empty()) {
            fs::create_directories(prefix / "share" / "quellora");
            writeFile(prefix / "share" / "quellora" / "update.json", text);
        }
        const auto driver = makeUpdateDriver(prefix / "bin" / "quellora", cache_,
                                             {mainQueue_, worker_, privileged_, {}});
        EXPECT_EQ(dynamic_cast<LinuxUpdateDriver*>(driver.get()) != nullptr, active) << text;
    }
    EXPECT_EQ(installerFor(prefix / "bin" / "quellora"),
              prefix / "lib" / "quellora" / "quellora-install-update");
}

} // namespace
} // namespace quellora
