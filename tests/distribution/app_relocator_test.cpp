#include "base/log_sinks.h"
#include "distribution/app_relocator.h"
#include "distribution/command_runner.h"
#include "support/temporary_directory.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>

namespace quellora {
namespace {

using Path = RelocationPlatform::Path;

// Linux installs in place, so nothing here calls the relocator: a signed
// download copied, checked and relaunched, and a copy already running at the
// destination brought forward, keep the algorithm honest behind its seam
// until a platform uses it.
struct ScriptedPlatform final : RelocationPlatform {
    std::optional<std::string> leafCertificateCommonName() override {
        return "Developer ID Application: Quellora (Q1W2E3R4T5)";
    }
    bool satisfiesDesignatedRequirement(const Path& to, const Path& from) override {
        return record("check " + to.string() + " against " + from.string());
    }
    Path applicationPath() override { return "/Volumes/Quellora/Quellora.app"; }
    std::vector<Path> applicationsDirectories(ApplicationsDomain) override {
        return {"/Applications"};
    }
    Path resolvingSymlinks(const Path& path) override { return path; }
    std::vector<Path> runningApplicationPaths() override {
        return copyRunsThere ? std::vector<Path>{"/Applications/Quellora.app"}
                             : std::vector<Path>{};
    }
    bool fileExists(const Path& path) override {
        return copyRunsThere && path == "/Applications/Quellora.app";
    }
    bool isWritable(const Path& path) override {
        return path.string().starts_with("/Applications");
    }
    bool moveToTrash(const Path& path) override { return record("trash " + path.string()); }
    bool copyItem(const Path& from, const Path& to) override {
        return record("copy " + from.string() + " to " + to.string());
    }
    bool removeItem(const Path& path) override { return record("remove " + path.string()); }
    bool runShellCommandAsAdministrator(const std::string& command) override {
        return record("admin " + command);
    }
    void runProcess(const Path& program, const std::vector<std::string>&, bool wait) override {
        record((wait ? "wait " : "start ") + program.string());
    }
    void open(const Path& path) override { record("open " + path.string()); }
    void terminate() override { record("terminate"); }
    int processIdentifier() override { return 4242; }
    void exit(int status) override { record("exit " + std::to_string(status)); }

    bool record(std::string call) {
        calls.push_back(std::move(call));
        return true;
    }
    std::vector<std::string> calls;
    bool copyRunsThere = false;
};

TEST(AppRelocatorTest, ASignedDownloadIsCopiedCheckedAndRelaunched) {
    const auto sink = std::make_shared<MemoryLogSink>();
    Log::setSinks({sink});
    ScriptedPlatform platform;
    AppRelocator::moveToApplicationsIfNeeded(platform, false);
    Log::setSinks(Log::defaultSinks());

    EXPECT_EQ(platform.calls,
              (std::vector<std::string>{
                  "copy /Volumes/Quellora/Quellora.app to /Applications/Quellora.app",
                  "check /Applications/Quellora.app against /Volumes/Quellora/Quellora.app",
                  "remove /Volumes/Quellora/Quellora.app", "wait /usr/bin/xattr", "start /bin/sh",
                  "terminate", "exit 0"}));
    ASSERT_EQ(sink->records().size(), 1u);
    EXPECT_EQ(sink->records()[0].message, "Relocated to /Applications/Quellora.app; relaunching.");

    ScriptedPlatform secondLaunch;
    secondLaunch.copyRunsThere = true;
    AppRelocator::moveToApplicationsIfNeeded(secondLaunch, false);
    EXPECT_EQ(secondLaunch.calls,
              (std::vector<std::string>{"open /Applications/Quellora.app", "terminate", "exit 0"}));
}

TEST(ProcessCommandRunnerTest, ReportsHowTheCommandEnded) {
    ProcessCommandRunner runner;
    EXPECT_EQ(runner.run({"/bin/sh", "-c", "exit 3"}), 3);
    EXPECT_EQ(runner.run({"/bin/sh", "-c", "kill -9 $$"}), 128 + 9);
    EXPECT_EQ(runner.run({"/nonexistent/program"}), -1);
    EXPECT_FALSE(runner.launchDetached({"/nonexistent/program"}));
}

TEST(ProcessCommandRunnerTest, ADetachedCommandRunsWithoutBeingWaitedFor) {
    const testing::TemporaryDirectory scratch;
    const auto fifo = scratch / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ProcessCommandRunner runner;
    ASSERT_TRUE(runner.launchDetached({"/bin/sh", "-c", R"(echo started > "$0")", fifo.string()}));
    std::string line;
    std::ifstream reader(fifo); // opening blocks until the command opens its end
    std::getline(reader, line);
    EXPECT_EQ(line, "started");
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
