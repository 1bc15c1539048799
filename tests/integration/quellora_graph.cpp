#include "quellora_graph.h"

namespace quellora::integration {

bool isOurs(const GraphNode& node) {
    return node.name.rfind("quellora-tap-", 0) == 0 ||
           node.name.rfind("quellora-aggregate-", 0) == 0;
}

std::vector<const GraphNode*> ourNodes(const GraphSnapshot& graph) {
    std::vector<const GraphNode*> nodes;
    for (const auto& node : graph.nodes) {
        if (isOurs(node)) {
            nodes.push_back(&node);
        }
    }
    return nodes;
}

const GraphNode* ourNode(const GraphSnapshot& graph, std::string_view prefix) {
    for (const auto& node : graph.nodes) {
        if (node.name.rfind(prefix, 0) == 0) {
            return &node;
        }
    }
    return nullptr;
}

bool processesInto(const GraphSnapshot& graph, std::string_view sink) {
    const auto* aggregate = ourNode(graph, "quellora-aggregate-");
    return aggregate && graph.linksBetween(aggregate->name, sink).size() == 2;
}

bool routedThroughTap(const GraphSnapshot& graph, std::string_view stream, std::string_view sink) {
    const auto* tap = ourNode(graph, "quellora-tap-");
    return tap && graph.isLinked(stream, tap->name) && !graph.isLinked(stream, sink);
}

} // namespace quellora::integration
