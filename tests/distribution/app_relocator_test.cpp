#include "base/log_sinks.h"
#include "distribution/app_relocator.h"
#include "distribution/command_runner.h"
#include "distribution/linux_relocation_platform.h"
#include "distribution/shell_quoting.h"
#include "support/temporary_directory.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>

namespace quellora {
namespace {

namespace fs = std::filesystem;
using Path = RelocationPlatform::Path;

const Path destination = "/Applications/Quellora.app";

// What is true of the machine in one case.
struct Facts {
    const char* commonName = "Developer ID Application: Quellora (Q1W2E3R4T5)";
    const char* application = "/Volumes/Quellora/Quellora.app";
    bool devBuild = false, linkedIntoApplications = false, noLocalFolder = false, exists = false,
         readOnlyCopy = false, readOnlyFolder = false, running = false, trashRefused = false,
         copyFails = false, cancelled = false, mismatch = false;
};

// Answers from the facts; every action is recorded as a line.
struct ScriptedPlatform final : RelocationPlatform {
    explicit ScriptedPlatform(Facts given)
        : facts(given) {}

    std::optional<std::string> leafCertificateCommonName() override {
        return facts.commonName ? std::optional<std::string>(facts.commonName) : std::nullopt;
    }
    bool satisfiesDesignatedRequirement(const Path& to, const Path& from) override {
        return record("check " + to.string() + " against " + from.string(), !facts.mismatch);
    }
    Path applicationPath() override { return facts.application; }
    std::vector<Path> applicationsDirectories(ApplicationsDomain domain) override {
        if (domain == ApplicationsDomain::all) {
            return {"/Applications", "/Users/me/Applications"};
        }
        return facts.noLocalFolder ? std::vector<Path>{} : std::vector<Path>{"/Applications"};
    }
    Path resolvingSymlinks(const Path& path) override {
        if (facts.linkedIntoApplications && path == "/Users/me/Applications") {
            return "/private/apps";
        }
        return facts.linkedIntoApplications && path == facts.application
                   ? "/private/apps/Quellora.app"
                   : path;
    }
    std::vector<Path> runningApplicationPaths() override {
        return facts.running ? std::vector<Path>{destination} : std::vector<Path>{};
    }
    bool fileExists(const Path& path) override { return path == destination && facts.exists; }
    bool isWritable(const Path& path) override {
        return path == "/Applications" ? !facts.readOnlyFolder
                                       : fileExists(path) && !facts.readOnlyCopy;
    }
    bool moveToTrash(const Path& path) override {
        return record("trash " + path.string(), !facts.trashRefused);
    }
    bool copyItem(const Path& from, const Path& to) override {
        return record("copy " + from.string() + " to " + to.string(), !facts.copyFails);
    }
    bool removeItem(const Path& path) override { return record("remove " + path.string(), false); }
    bool runShellCommandAsAdministrator(const std::string& command) override {
        return record("admin " + command, !facts.cancelled);
    }
    void runProcess(const Path& program, const std::vector<std::string>& arguments,
                    bool wait) override {
        std::string line = (wait ? "wait " : "start ") + program.string();
        for (const auto& argument : arguments) {
            line += " [" + argument + "]";
        }
        record(line, true);
    }
    void open(const Path& path) override { record("open " + path.string(), true); }
    void terminate() override { record("terminate", true); }
    int processIdentifier() override { return 4242; }
    void exit(int status) override { record("exit " + std::to_string(status), true); }

    bool record(std::string call, bool result) {
        calls.push_back(std::move(call));
        return result;
    }

    Facts facts;
    std::vector<std::string> calls;
};

const std::string copy = "copy /Volumes/Quellora/Quellora.app to /Applications/Quellora.app";
const std::string check = "check /Applications/Quellora.app against /Volumes/Quellora/Quellora.app";
const std::string admin = "admin /bin/rm -rf '/Applications/Quellora.app' && /bin/cp -pR "
                          "'/Volumes/Quellora/Quellora.app' '/Applications/Quellora.app'";
const std::vector<std::string> relaunch = {
    "wait /usr/bin/xattr [-d] [-r] [com.apple.quarantine] [/Applications/Quellora.app]",
    "start /bin/sh [-c] [(while /bin/kill -0 4242 2>/dev/null; do /bin/sleep 0.1; done; "
    "/usr/bin/open '/Applications/Quellora.app'; /usr/sbin/diskutil eject \"/Volumes/Quellora\" "
    ">/dev/null 2>&1) &]",
    "terminate", "exit 0"};

// `steps`, then the removal of the source and the relaunch.
std::vector<std::string> relocating(std::vector<std::string> steps,
                                    const std::string& source = "/Volumes/Quellora/Quellora.app") {
    steps.push_back("remove " + source);
    steps.insert(steps.end(), relaunch.begin(), relaunch.end());
    return steps;
}

struct Branch {
    const char* name;
    Facts facts;
    const char* logged; // empty: nothing is logged
    LogLevel level = LogLevel::debug;
    std::vector<std::string> calls = {};
};
void PrintTo(const Branch& branch, std::ostream* out) {
    *out << branch.name;
}

class AppRelocatorTest : public ::testing::TestWithParam<Branch> {
protected:
    AppRelocatorTest() { Log::setSinks({sink}); }
    ~AppRelocatorTest() override { Log::setSinks(Log::defaultSinks()); }
    std::shared_ptr<MemoryLogSink> sink = std::make_shared<MemoryLogSink>();
};

TEST_P(AppRelocatorTest, TakesTheFirstStepThatDecides) {
    ScriptedPlatform platform(GetParam().facts);
    AppRelocator::moveToApplicationsIfNeeded(platform, GetParam().facts.devBuild);
    EXPECT_EQ(platform.calls, GetParam().calls);
    const auto records = sink->records();
    ASSERT_EQ(records.size(), *GetParam().logged == '\0' ? 0u : 1u);
    if (!records.empty()) {
        EXPECT_EQ(records[0].message, GetParam().logged);
        EXPECT_EQ(records[0].level, GetParam().level);
        EXPECT_EQ(records[0].category, "Relocator");
    }
}

constexpr auto relocated = "Relocated to /Applications/Quellora.app; relaunching.";
constexpr auto notSigned = "Relocate skipped: not a Developer-ID build (dev/ad-hoc).";
constexpr auto notice = LogLevel::notice;
constexpr auto error = LogLevel::error;

INSTANTIATE_TEST_SUITE_P(
    Steps, AppRelocatorTest,
    ::testing::Values(
        Branch{"DevelopmentBuild",
               {.devBuild = true},
               "Relocate skipped: local dev build (DevBuild.isActive)."},
        Branch{"Unsigned", {.commonName = nullptr}, notSigned},
        Branch{"DevelopmentCertificate",
               {.commonName = "Apple Development: Q (Q1W2E3R4T5)"},
               notSigned},
        Branch{"AlreadyInApplicationsThroughALink",
               {.application = "/Users/me/Desktop/Quellora.app", .linkedIntoApplications = true},
               "Relocate skipped: already in an Applications folder."},
        Branch{
            "AFolderNamedLikeApplicationsIsNotOne",
            {.application = "/ApplicationsOld/Quellora.app"},
            relocated,
            notice,
            relocating({"copy /ApplicationsOld/Quellora.app to /Applications/Quellora.app",
                        "check /Applications/Quellora.app against /ApplicationsOld/Quellora.app"},
                       "/ApplicationsOld/Quellora.app")},
        Branch{"NoLocalApplicationsFolder",
               {.noLocalFolder = true},
               "Relocate aborted: no writable Applications directory found.",
               error},
        Branch{"FreshCopy", {}, relocated, notice, relocating({copy, check})},
        Branch{"RunningFromTheExistingCopy",
               {.exists = true, .running = true},
               "",
               LogLevel::debug,
               {"open /Applications/Quellora.app", "terminate", "exit 0"}},
        Branch{"ExistingCopyGoesToTheTrash",
               {.exists = true},
               relocated,
               notice,
               relocating({"trash /Applications/Quellora.app", copy, check})},
        Branch{"TrashRefused",
               {.exists = true, .trashRefused = true},
               "Could not remove existing copy at destination.",
               error,
               {"trash /Applications/Quellora.app"}},
        Branch{"CopyFailed", {.copyFails = true}, "Copy to Applications failed.", error, {copy}},
        Branch{"ReadOnlyFolderNeedsTheAdministrator",
               {.readOnlyFolder = true},
               relocated,
               notice,
               relocating({admin, check})},
        Branch{"ReadOnlyExistingCopyNeedsTheAdministrator",
               {.exists = true, .readOnlyCopy = true, .running = true},
               relocated,
               notice,
               relocating({admin, check})},
        Branch{"AdministratorCancelled",
               {.readOnlyFolder = true, .cancelled = true},
               "Authorized move did not complete; continuing from current location.",
               notice,
               {admin}},
        Branch{"SignatureMismatch",
               {.mismatch = true},
               "Destination signature does not match source — aborting relaunch.",
               error,
               {copy, check}}));

TEST(ShellQuotingTest, TheAdministratorScriptEscapesTheWholeCommandForAppleScript) {
    EXPECT_EQ(administratorShellScript(AppRelocator::authorizedMoveCommand(
                  R"(/Volumes/Q/It's "Q".app)", R"(/Applications/a\b.app)")),
              R"(do shell script "/bin/rm -rf '/Applications/a\\b.app' && /bin/cp -pR )"
              R"('/Volumes/Q/It'\\''s \"Q\".app' '/Applications/a\\b.app'" )"
              R"(with administrator privileges)");
}

// Runs the move for real, with names that would break out of weaker quoting.
TEST(ShellQuotingTest, TheMoveCommandCannotBeHijackedByTheNames) {
    auto pattern = (fs::temp_directory_path() / "quellora-relocate-XXXXXX").string();
    const fs::path root = ::mkdtemp(pattern.data());
    const auto previous = fs::current_path();
    fs::current_path(root);
    const std::string name = R"name(It's "$(touch pwned)" `touch pwned` \ $HOME.app)name";
    fs::create_directories(root / "Volume" / name);
    std::ofstream(root / "Volume" / name / "binary") << "code";
    fs::create_directories(root / "Applications" / name / "stale");

    ProcessCommandRunner runner;
    EXPECT_EQ(runner.run({"/bin/sh", "-c",
                          AppRelocator::authorizedMoveCommand(root / "Volume" / name,
                                                              root / "Applications" / name)}),
              0);
    EXPECT_TRUE(fs::exists(root / "Applications" / name / "binary"));
    EXPECT_FALSE(fs::exists(root / "Applications" / name / "stale"));
    EXPECT_FALSE(fs::exists(root / "pwned"));
    fs::current_path(previous);
    fs::remove_all(root);
}

struct RecordingRunner final : CommandRunner {
    int run(const std::vector<std::string>& arguments) override {
        commands.push_back(arguments);
        return 0;
    }
    bool launchDetached(const std::vector<std::string>& arguments) override {
        commands.push_back(arguments);
        return true;
    }
    std::vector<std::vector<std::string>> commands;
};

TEST(LinuxRelocationPlatformTest, NeverHandsAShellCommandLineToTheAdministrator) {
    const auto runner = std::make_shared<RecordingRunner>();
    LinuxRelocationPlatform platform(runner, {});
    EXPECT_FALSE(platform.runShellCommandAsAdministrator(
        AppRelocator::authorizedMoveCommand("/tmp/Quellora", "/opt/Quellora")));
    EXPECT_TRUE(runner->commands.empty());
}

TEST(ProcessCommandRunnerTest, ReportsHowTheCommandEnded) {
    ProcessCommandRunner runner;
    EXPECT_EQ(runner.run({"/bin/sh", "-c", "exit 3"}), 3);
    EXPECT_EQ(runner.run({"/bin/sh", "-c", "kill -9 $$"}), 128 + 9);
    EXPECT_EQ(runner.run({"/nonexistent/program"}), -1);
    EXPECT_FALSE(runner.launchDetached({"/nonexistent/program"}));
}

TEST(ProcessCommandRunnerTest, ADetachedCommandRunsWithoutBeingWaitedFor) {
    const auto fifo = fs::temp_directory_path() / ("quellora-fifo-" + std::to_string(::getpid()));
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ProcessCommandRunner runner;
    ASSERT_TRUE(runner.launchDetached({"/bin/sh", "-c", R"(echo started > "$0")", fifo.string()}));
    std::string line;
    std::ifstream reader(fifo); // opening blocks until the command opens its end
    std::getline(reader, line);
    EXPECT_EQ(line, "started");
    fs::remove(fifo);
}

// What root's package installer runs with, whatever the caller hands down:
// a terminal on standard input, a lowered file size limit, an ignored and a
// blocked signal, a descriptor without close-on-exec and an environment of
// its own.
TEST(ProcessCommandRunnerTest, ACommandDetachedFromTheCallerSharesNothingWithIt) {
    const testing::TemporaryDirectory scratch;
    const auto report = scratch / "report";
    int terminal[2];
    ASSERT_EQ(::pipe(terminal), 0);
    const int savedInput = ::dup(STDIN_FILENO);
    ::dup2(terminal[0], STDIN_FILENO);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit lowered{1024 * 1024, limit.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &lowered);
    const auto previousHandler = std::signal(SIGUSR1, SIG_IGN);
    sigset_t blocked, previousMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &blocked, &previousMask);

    // grep reads its own mask: the shell blocks signals for a moment around its forks.
    const int status = runDetachedFromCaller(
        {"/bin/sh", "-c",
         R"sh(exec > "$0"; [ "$(cut -d' ' -f6 /proc/$$/stat)" = $$ ] && echo session leader
            readlink /proc/$$/fd/0
            ulimit -f; [ -e /proc/$$/fd/$1 ] && echo held || echo closed
            echo "${PROBE-} ${HOME-unset}"; exec grep -E '^Sig(Blk|Ign)' /proc/self/status)sh",
         report.string(), std::to_string(terminal[1])},
        {"PATH=/usr/bin:/bin", "PROBE=yes"});

    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    std::signal(SIGUSR1, previousHandler);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::dup2(savedInput, STDIN_FILENO);
    for (const int fd : {savedInput, terminal[0], terminal[1]}) {
        ::close(fd);
    }
    ASSERT_EQ(status, 0);
    std::ifstream probed(report);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(probed), {}),
              "session leader\n/dev/null\nunlimited\nclosed\nyes unset\n"
              "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
}

} // namespace
} // namespace quellora
