#pragma once

// `quellora run` on a private server, and what the graph shows of it.

#include "private_pipewire_session.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quellora::integration {

// Quellora's tap and aggregate (the test's own players are "quellora-test-…").
bool isOurs(const GraphNode& node);
std::vector<const GraphNode*> ourNodes(const GraphSnapshot& graph);
const GraphNode* ourNode(const GraphSnapshot& graph, std::string_view prefix);
// The processed path to `sink` is up: our aggregate plays on it.
bool processesInto(const GraphSnapshot& graph, std::string_view sink);
// A stream reaches `sink` only through Quellora's tap.
bool routedThroughTap(const GraphSnapshot& graph, std::string_view stream, std::string_view sink);
// A stream plays through Quellora's tap and is linked to no device directly.
bool onlyInTheTap(const GraphSnapshot& graph, std::string_view stream);
// What remains of Quellora at rest: one tap, one aggregate, and no links
// but theirs (tap to aggregate, aggregate to the sink).
bool onlyOurPipelineRemains(const GraphSnapshot& graph);

// Peak level in dBFS that the standard preset gives a steady tone of `inputDb` peak.
double compressedPeakDb(double inputDb);

// A suite whose tests start `quellora run` on the suite's private session.
class QuelloraTest : public PrivatePipeWireSessionTest {
protected:
    void TearDown() override;

    // `quellora run`, started and processing into `sink`.
    void startQuellora(std::string_view sink = "speakers");
    void waitForGraph(const std::function<bool(const GraphSnapshot&)>& condition,
                      milliseconds timeout);
    // Waits until `stream` plays through the tap into `sink` and nowhere else.
    void waitUntilProcessed(std::string_view stream, std::string_view sink,
                            milliseconds timeout = milliseconds(5000));
    bool logged(std::string_view text);

    std::optional<ChildProcess> quellora;
};

} // namespace quellora::integration
