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

// The processed path to `sink` is up: our aggregate plays on it.
bool processesInto(const GraphSnapshot& graph, std::string_view sink);
// A stream reaches `sink` only through Quellora's tap.
bool routedThroughTap(const GraphSnapshot& graph, std::string_view stream, std::string_view sink);

} // namespace quellora::integration
