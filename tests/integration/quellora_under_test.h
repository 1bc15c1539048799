#pragma once

// `quellora run` on a private server, and what the graph shows of it.

#include "compressed_level.h"
#include "private_pipewire_session.h"
#include "quellora_graph.h"
#include "support/temporary_directory.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quellora::integration {

// A suite whose tests start `quellora run` on the suite's private session.
class QuelloraTest : public PrivatePipeWireSessionTest {
protected:
    void TearDown() override;

    // `quellora run`, started and processing into `sink`.
    void startQuellora(std::string_view sink = "speakers");
    // The same with a preset of its own, kept in settings of its own so that
    // the next test starts from the standard preset again. Settings of its
    // own (`ownSettings`) last until the end of the test, over restarts.
    void startQuellora(std::string_view sink, const std::vector<std::string>& presetOptions);
    void waitForGraph(const std::function<bool(const GraphSnapshot&)>& condition,
                      milliseconds timeout);
    // Waits until `stream` plays through the tap into `sink` and nowhere else.
    void waitUntilProcessed(std::string_view stream, std::string_view sink,
                            milliseconds timeout = milliseconds(5000));
    bool logged(std::string_view text);

    std::optional<ChildProcess> quellora;
    std::optional<testing::TemporaryDirectory> ownSettings;
};

} // namespace quellora::integration
