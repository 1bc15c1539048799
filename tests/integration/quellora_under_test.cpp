#include "quellora_under_test.h"

#include <iostream>

namespace quellora::integration {

using namespace std::chrono_literals;

void QuelloraTest::TearDown() {
    if (quellora && HasFailure()) {
        std::cerr << "quellora run said:\n" << quellora->output() << quellora->errors() << '\n';
    }
    quellora.reset();
    PrivatePipeWireSessionTest::TearDown();
}

void QuelloraTest::startQuellora(std::string_view sink) {
    startQuellora(sink, {});
}

void QuelloraTest::startQuellora(std::string_view sink,
                                 const std::vector<std::string>& presetOptions) {
    // The log level given here wins over the one the test runner sets for itself.
    std::vector<std::string> command{"env", "QUELLORA_LOG_LEVEL=info"};
    if (!presetOptions.empty() && !ownSettings) {
        ownSettings.emplace();
    }
    if (ownSettings) {
        command.push_back("XDG_CONFIG_HOME=" + ownSettings->path().string());
    }
    command.insert(command.end(), {QUELLORA_EXECUTABLE, "run", "--verbose"});
    command.insert(command.end(), presetOptions.begin(), presetOptions.end());
    quellora.emplace(ChildProcess::start(command));
    ASSERT_TRUE(quellora->waitForOutput("Quellora is on.\n", 10s)) << quellora->errors();
    waitForGraph([&](const GraphSnapshot& g) { return processesInto(g, sink); }, 10s);
}

void QuelloraTest::waitForGraph(const std::function<bool(const GraphSnapshot&)>& condition,
                                milliseconds timeout) {
    GraphSnapshot last;
    ASSERT_TRUE(session().waitForGraph(condition, timeout, &last)) << last.describe();
}

void QuelloraTest::waitUntilProcessed(std::string_view stream, std::string_view sink,
                                      milliseconds timeout) {
    waitForGraph(
        [&](const GraphSnapshot& g) { return processesInto(g, sink) && onlyInTheTap(g, stream); },
        timeout);
}

bool QuelloraTest::logged(std::string_view text) {
    return quellora->errors().find(text) != std::string::npos;
}

} // namespace quellora::integration
