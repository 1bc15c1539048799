// One Quellora per session, on a private session bus: the command-line
// commands talk to this process, which stands in for the running instance,
// through the real bus daemon; who may hold the name when several claim it.

#include "app/session_bus_instance.h"
#include "private_pipewire_session.h"
#include "runtime/qt_dispatcher.h"
#include "runtime/session_bus_pump.h"
#include "support/temporary_directory.h"
#include "ui/tray/session_relaunch.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <QCoreApplication>
#include <filesystem>
#include <fstream>
#include <future>
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
    void activate() override {}
    std::string mode() const override { return "error: Can't find your speakers or headphones."; }
    std::vector<ListedApplication> applications() const override {
        return {{"firefox-esr", "Firefox", false, "", true},
                {"linphone", "Linphone", true, "call audio", false},
                {"caf\xE9", "caf\xE9", false, "", true}, // a Latin-1 file name
                {"mpv", "mpv", false, "", true, true, "Headphones"},
                {"Zoom", "Zoom", true, "", false, false}};
    }
    // Firefox plays; anything else does not, and its choice waits for it.
    ListedApplication setApplicationDirect(const std::string& name, bool direct) override {
        directChoices.push_back(direct);
        if (name == "firefox") {
            return {"firefox-esr", "Firefox", direct, "", true};
        }
        return {name, name, direct, "", false, false};
    }
    std::string forgetApplication(const std::string& name) override {
        if (name != "zoom") {
            throw InstanceRefusal("Quellora remembers no choice for \"" + name + "\".");
        }
        return "Zoom";
    }

    int toggles = 0;
    int enables = 0;
    int disables = 0;
    std::vector<bool> directChoices;
};

class SessionBusInstanceTest : public ::testing::Test {
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

    // Serves the bus from this process's event loop while it runs.
    struct Instance {
        Instance(InstanceKind kind, InstanceController& controller)
            : bus(kind, controller) {}
        SessionBusInstance::Claim claim() {
            const auto claim = bus.claim();
            pump.emplace(bus);
            return claim;
        }
        SessionBusInstance bus;
        std::optional<SessionBusPump> pump;
    };

    // Asks who runs from another thread, so that this one can answer.
    std::optional<InstanceHolder> holder() {
        auto asking = std::async(std::launch::async, [] { return runningInstanceHolder(); });
        runUntil(
            [&] { return asking.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
        return asking.get();
    }

    bool runUntil(const std::function<bool()>& condition) {
        const auto deadline = dispatcher.now() + seconds(10.0);
        while (!condition() && dispatcher.now() < deadline) {
            dispatcher.runFor(seconds(0.01));
        }
        return condition();
    }

    static std::unique_ptr<PrivatePipeWireSession> session;
    QtDispatcher dispatcher;
    FakeController controller;
};

std::unique_ptr<PrivatePipeWireSession> SessionBusInstanceTest::session;

TEST_F(SessionBusInstanceTest, CommandsReachTheRunningInstanceAndSayWhatCameOfThem) {
    auto tray = std::make_unique<Instance>(InstanceKind::tray, controller);
    ASSERT_EQ(tray->claim(), SessionBusInstance::Claim::owned);

    const auto status = quellora({"status"});
    EXPECT_EQ(status.exitStatus, 0) << status.errors;
    EXPECT_EQ(status.output, "error: Can't find your speakers or headphones.\n");
    EXPECT_EQ(quellora({"toggle"}).exitStatus, 0);
    EXPECT_EQ(quellora({"on"}).exitStatus, 0);
    EXPECT_EQ(quellora({"off"}).exitStatus, 0);
    EXPECT_EQ(controller.toggles, 1);
    EXPECT_EQ(controller.enables, 1);
    EXPECT_EQ(controller.disables, 1);

    const auto apps = quellora({"apps"});
    EXPECT_EQ(apps.exitStatus, 0) << apps.errors;
    EXPECT_EQ(apps.output, "APPLICATION  ID           PLAYS\n"
                           "Firefox      firefox-esr  levelled\n"
                           "Linphone     linphone     direct (call audio), paused\n"
                           "caf\uFFFD         caf\uFFFD         levelled\n"
                           "mpv          mpv          plays on Headphones\n"
                           "Zoom         Zoom         direct, remembered\n"
                           "Remembered: chosen for an application that has no stream now; "
                           "quellora forget NAME drops the choice.\n");
    const auto direct = quellora({"direct", "firefox"});
    EXPECT_EQ(direct.exitStatus, 0) << direct.errors;
    EXPECT_EQ(direct.output, "Firefox now plays direct.\n");
    EXPECT_EQ(quellora({"level", "firefox"}).output, "Firefox now plays levelled.\n");
    EXPECT_EQ(quellora({"direct", "Zoom"}).output,
              "Zoom does not play now; it will play direct when it starts.\n");
    EXPECT_EQ(controller.directChoices, (std::vector<bool>{true, false, true}));

    const auto forgotten = quellora({"forget", "zoom"});
    EXPECT_EQ(forgotten.exitStatus, 0) << forgotten.errors;
    EXPECT_EQ(forgotten.output, "The choice for Zoom is forgotten: it plays as by default.\n");
    const auto unknown = quellora({"forget", "Discord"});
    EXPECT_EQ(unknown.exitStatus, 2);
    EXPECT_EQ(unknown.errors, "quellora forget: Quellora remembers no choice for \"Discord\".\n");
    const auto missing = quellora({"level"});
    EXPECT_EQ(missing.exitStatus, 2);
    EXPECT_EQ(missing.errors, "quellora level: which application? Give its name or ID, as "
                              "quellora apps lists them\n");

    tray.reset();
    const auto gone = quellora({"status"});
    EXPECT_EQ(gone.exitStatus, 1);
    EXPECT_EQ(gone.output, "");
    EXPECT_EQ(gone.errors, "quellora status: Quellora is not running.\n");
}

// The claims behind the service stepping aside (its whole scenario runs end to
// end): a tray takes the name from a service, another `run` queues, another
// tray is turned away.
TEST_F(SessionBusInstanceTest, ATrayTakesTheNameFromAServiceAndGivesItBack) {
    std::vector<bool> serviceOwnership;
    Instance service(InstanceKind::headless, controller);
    service.bus.onOwnershipChanged = [&](bool owned) {
        serviceOwnership.push_back(owned);
    };
    ASSERT_EQ(service.claim(), SessionBusInstance::Claim::owned);
    const auto holding = holder();
    ASSERT_TRUE(holding);
    EXPECT_EQ(holding->kind, "run");
    EXPECT_EQ(holding->pid, ::getpid());

    Instance secondService(InstanceKind::headless, controller);
    EXPECT_EQ(secondService.claim(), SessionBusInstance::Claim::queued);

    {
        Instance tray(InstanceKind::tray, controller);
        ASSERT_EQ(tray.claim(), SessionBusInstance::Claim::owned);
        ASSERT_TRUE(runUntil([&] { return !service.bus.ownsName(); }));
        EXPECT_EQ(serviceOwnership, std::vector<bool>{false});
        Instance anotherTray(InstanceKind::tray, controller);
        EXPECT_EQ(anotherTray.bus.claim(), SessionBusInstance::Claim::heldByAnother);
    }
    ASSERT_TRUE(runUntil([&] { return service.bus.ownsName(); }));
    EXPECT_EQ(serviceOwnership, (std::vector<bool>{false, true}));
    EXPECT_FALSE(secondService.bus.ownsName());
}

// After an update the old instance starts the new one and quits. The new one
// must find the session free: finding the name still held, it would hand
// over to the old one and exit with it.
class RelaunchTest : public SessionBusInstanceTest {
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

    testing::TemporaryDirectory scratch;
    std::string resultFile = scratch / "probe-result";
    ProcessCommandRunner runner;
    std::ostringstream err;
};

TEST_F(RelaunchTest, TheNewInstanceStartsOnlyOnceTheOldOneHasLeftTheSession) {
    const auto status = runSessionThenRelaunch(
        [&](RelaunchRequest& relaunch) {
            Instance old(InstanceKind::tray, controller);
            EXPECT_EQ(old.claim(), SessionBusInstance::Claim::owned);
            relaunch = {QUELLORA_INSTANCE_PROBE, resultFile};
            return 7;
        },
        runner, err);
    EXPECT_EQ(status, 7);
    EXPECT_EQ(probeResult(), "claimed");
    EXPECT_EQ(err.str(), "");
}

TEST_F(RelaunchTest, ARelaunchThatCannotStartIsReported) {
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
