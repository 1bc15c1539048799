// The user service as shipped: a crash or a kill brings `quellora run` back
// compressing; a stop or unusable arguments do not. Its restart rules are
// read from the unit file itself and applied as the systemd user manager
// applies them.

#include "compressed_level.h"
#include "private_pipewire_session.h"
#include "quellora_graph.h"
#include "service_supervisor.h"

#include <gmock/gmock.h>

#include <csignal>

namespace quellora::integration {
namespace {

using namespace std::chrono_literals;

RestartPolicy shippedPolicy() {
    return RestartPolicy::read(QUELLORA_SERVICE_UNIT);
}

struct EndCase {
    const char* name;
    std::optional<int> exitCode;
    std::optional<int> signal;
    bool restarts;
};

void PrintTo(const EndCase& end, std::ostream* out) {
    *out << end.name;
}

class ShippedServiceAfter : public ::testing::TestWithParam<EndCase> {};

TEST_P(ShippedServiceAfter, IsStartedAgainOnlyWhenItFailed) {
    EXPECT_EQ(shippedPolicy().restartsAfter(GetParam().exitCode, GetParam().signal),
              GetParam().restarts);
}

INSTANTIATE_TEST_SUITE_P(Ends, ShippedServiceAfter,
                         ::testing::Values(EndCase{"kill", std::nullopt, SIGKILL, true},
                                           EndCase{"crash", std::nullopt, SIGSEGV, true},
                                           EndCase{"abort", std::nullopt, SIGABRT, true},
                                           EndCase{"failure", 1, std::nullopt, true},
                                           // systemctl stop, logging out, Ctrl+C in a terminal.
                                           EndCase{"stop", std::nullopt, SIGTERM, false},
                                           EndCase{"interrupt", std::nullopt, SIGINT, false},
                                           EndCase{"cleanExit", 0, std::nullopt, false},
                                           // Fixing them takes the user, not another try.
                                           EndCase{"unusableArguments", 2, std::nullopt, false}),
                         [](const auto& row) { return std::string(row.param.name); });

class QuelloraService : public PrivatePipeWireSessionTest {
protected:
    void TearDown() override {
        service.reset();
        if (HasFailure()) {
            std::cerr << "the service's log:\n"
                      << runCommand({"cat", session().file("quellora.log").string()}).output;
        }
        PrivatePipeWireSessionTest::TearDown();
    }

    // The unit's command, with the executable just built in place of the
    // installed one it names.
    void startService() {
        const auto policy = shippedPolicy();
        std::vector<std::string> command{QUELLORA_EXECUTABLE};
        command.insert(command.end(), policy.execStart.begin() + 1, policy.execStart.end());
        service.emplace(policy, command, session().file("quellora.log"));
    }

    void waitForGraph(const std::function<bool(const GraphSnapshot&)>& condition,
                      milliseconds timeout) {
        GraphSnapshot last;
        ASSERT_TRUE(session().waitForGraph(condition, timeout, &last)) << last.describe();
    }

    std::optional<ServiceSupervisor> service;
};

TEST_F(QuelloraService, ComesBackCompressingAfterBeingKilled) {
    auto playback = session().play(tone(-6.0, 120.0));
    startService();
    const auto compressing = [&](const GraphSnapshot& g) {
        return processesInto(g, "speakers") && routedThroughTap(g, playback.nodeName(), "speakers");
    };
    waitForGraph(compressing, 10s);

    ASSERT_TRUE(service->sendSignal(SIGKILL));

    waitForGraph([&](const GraphSnapshot& g) { return service->starts() == 2 && compressing(g); },
                 15s);
    // Past the fade-in, the speakers play the compressed tone and nothing else.
    const auto recorded = session().record("speakers", 1.0);
    EXPECT_NEAR(peakDb(recorded.slice(0.5, 1.0)), compressedPeakDb(-6.0), 1.0);
}

} // namespace
} // namespace quellora::integration
