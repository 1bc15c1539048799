#pragma once

#include "graph_snapshot.h"

#include <string_view>
#include <vector>

namespace quellora::integration {

// Where Quellora's own nodes are in a graph: its tap and its aggregate (the
// tests' own players are "quellora-test-...").
bool isOurs(const GraphNode& node);
std::vector<const GraphNode*> ourNodes(const GraphSnapshot& graph);
// The first node whose name starts with `prefix`.
const GraphNode* ourNode(const GraphSnapshot& graph, std::string_view prefix);

// The processed path to `sink` is up: our aggregate plays on it, every
// channel of the tap.
bool processesInto(const GraphSnapshot& graph, std::string_view sink);
// A stream reaches `sink` only through Quellora's tap.
bool routedThroughTap(const GraphSnapshot& graph, std::string_view stream, std::string_view sink);
// A stream plays through Quellora's tap and is linked to no device directly.
bool onlyInTheTap(const GraphSnapshot& graph, std::string_view stream);
// What remains of Quellora at rest: one tap, one aggregate, and no links
// but theirs (tap to aggregate, aggregate to the sink).
bool onlyOurPipelineRemains(const GraphSnapshot& graph);

} // namespace quellora::integration
