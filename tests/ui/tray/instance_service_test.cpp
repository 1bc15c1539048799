// The control interface on a private session bus: the command-line commands
// and a second launch talk to this process, which stands in for the running
// application, through the real bus daemon.

#include "private_pipewire_session.h"
#include "ui/qt_core/qt_dispatcher.h"
#include "ui/tray/instance_service.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <QCoreApplication>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace quellora {
namespace {

using integration::ChildProcess;
using integration::CommandResult;
using integration::PrivatePipeWireSession;

class FakeController final : public InstanceController {
public:
    void toggle() override { ++toggles; }
    void enable() override { ++enables; }
    void disable() override { ++disables; }
    void activate() override { ++activations; }
    std::string mode() const override { return "error: Can't find your speakers or headphones."; }

    int toggles = 0;
    int enables = 0;
    int disables = 0;
    int activations = 0;
};

class InstanceServiceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        session = std::make_unique<PrivatePipeWireSession>(
            PrivatePipeWireSession::Options{.startAudioServer = false});
    }
    static void TearDownTestSuite() { session.reset(); }

    // Runs `quellora args...` to its end while this process answers on the bus.
    CommandResult quellora(std::vector<std::string> args) {
        args.insert(args.begin(), QUELLORA_EXECUTABLE);
        auto child = ChildProcess::start(args);
        const auto deadline = dispatcher.now() + seconds(20.0);
        while (child.isRunning() && dispatcher.now() < deadline) {
            dispatcher.runFor(seconds(0.01));
        }
        return {child.stop(), child.output(), child.errors()};
    }

    static std::unique_ptr<PrivatePipeWireSession> session;
    int argc = 1;
    char programName[16] = "tray-tests";
    char* argv[2] = {programName, nullptr};
    QCoreApplication application{argc, argv};
    QtDispatcher dispatcher;
    FakeController controller;
};

std::unique_ptr<PrivatePipeWireSession> InstanceServiceTest::session;

TEST_F(InstanceServiceTest, commandsReachTheRunningInstanceAndStatusPrintsItsMode) {
    InstanceService service(controller);
    ASSERT_EQ(service.claim(), InstanceService::Claim::claimed);

    const auto status = quellora({"status"});
    EXPECT_EQ(status.exitStatus, 0) << status.errors;
    EXPECT_EQ(status.output, "error: Can't find your speakers or headphones.\n");
    EXPECT_EQ(quellora({"toggle"}).exitStatus, 0);
    EXPECT_EQ(quellora({"on"}).exitStatus, 0);
    EXPECT_EQ(quellora({"off"}).exitStatus, 0);
    EXPECT_EQ(controller.toggles, 1);
    EXPECT_EQ(controller.enables, 1);
    EXPECT_EQ(controller.disables, 1);
}

TEST_F(InstanceServiceTest, aSecondLaunchActivatesTheRunningInstanceAndEnds) {
    InstanceService service(controller);
    ASSERT_EQ(service.claim(), InstanceService::Claim::claimed);

    const auto launch = quellora({});
    EXPECT_EQ(launch.exitStatus, 0) << launch.errors;
    EXPECT_EQ(controller.activations, 1);
}

TEST_F(InstanceServiceTest, withoutARunningInstanceCommandsSaySoAndFail) {
    {
        InstanceService earlier(controller);
        ASSERT_EQ(earlier.claim(), InstanceService::Claim::claimed);
    }
    const auto status = quellora({"status"});
    EXPECT_EQ(status.exitStatus, 1);
    EXPECT_EQ(status.output, "");
    EXPECT_EQ(status.errors, "quellora status: Quellora is not running.\n");
}

// After an update the old instance starts the new one and quits. The new one
// must find the session free: finding the name still held, it would hand
// over to the old one and exit with it.
class RelaunchTest : public InstanceServiceTest {
protected:
    // The probe's verdict once it has written one (it runs detached).
    std::string probeResult() {
        const auto deadline = dispatcher.now() + seconds(20.0);
        std::string result;
        while (result.empty() && dispatcher.now() < deadline) {
            dispatcher.runFor(seconds(0.01));
            std::ifstream(resultFile) >> result;
        }
        std::filesystem::remove(resultFile);
        return result;
    }

    std::string resultFile =
        std::filesystem::temp_directory_path() / ("quellora-probe-" + std::to_string(::getpid()));
    ProcessCommandRunner runner;
    std::ostringstream err;
};

TEST_F(RelaunchTest, theNewInstanceStartsOnlyOnceTheOldOneHasLeftTheSession) {
    const auto status = runSessionThenRelaunch(
        [&](RelaunchRequest& relaunch) {
            InstanceService old(controller);
            EXPECT_EQ(old.claim(), InstanceService::Claim::claimed);
            relaunch = {QUELLORA_INSTANCE_PROBE, resultFile};
            return 7;
        },
        runner, err);
    EXPECT_EQ(status, 7);
    EXPECT_EQ(probeResult(), "claimed");
    EXPECT_EQ(err.str(), "");
}

// What the relaunch avoids, shown with the same probe: started while the old
// instance still holds the name, the new one is turned away.
TEST_F(RelaunchTest, anInstanceStartedWhileTheOldOneHoldsTheNameIsTurnedAway) {
    InstanceService old(controller);
    ASSERT_EQ(old.claim(), InstanceService::Claim::claimed);
    ASSERT_TRUE(runner.launchDetached({QUELLORA_INSTANCE_PROBE, resultFile}));
    EXPECT_EQ(probeResult(), "held");
}

TEST_F(RelaunchTest, aRelaunchThatCannotStartIsReported) {
    runSessionThenRelaunch(
        [](RelaunchRequest& relaunch) {
            relaunch = {"/nonexistent/quellora"};
            return 0;
        },
        runner, err);
    EXPECT_EQ(err.str(), "quellora: could not start /nonexistent/quellora again\n");
}

} // namespace
} // namespace quellora
