#include "quellora_graph.h"

#include <algorithm>
#include <string>

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
    const auto* tap = ourNode(graph, "quellora-tap-");
    if (!aggregate || !tap) {
        return false;
    }
    // A link per channel the tap carries: all of them reach the sink.
    const auto channels = tap->property("audio.channels").value_or("2");
    return std::to_string(graph.linksBetween(aggregate->name, sink).size()) == channels;
}

bool routedThroughTap(const GraphSnapshot& graph, std::string_view stream, std::string_view sink) {
    const auto* tap = ourNode(graph, "quellora-tap-");
    return tap && graph.isLinked(stream, tap->name) && !graph.isLinked(stream, sink);
}

bool onlyInTheTap(const GraphSnapshot& graph, std::string_view stream) {
    const auto* tap = ourNode(graph, "quellora-tap-");
    if (!tap || !graph.isLinked(stream, tap->name)) {
        return false;
    }
    const auto links = graph.linksFrom(stream);
    return std::all_of(links.begin(), links.end(),
                       [&](const GraphLink& link) { return link.inputNodeName == tap->name; });
}

bool onlyOurPipelineRemains(const GraphSnapshot& graph) {
    const auto nodes = ourNodes(graph);
    const auto* tap = ourNode(graph, "quellora-tap-");
    const auto* aggregate = ourNode(graph, "quellora-aggregate-");
    if (nodes.size() != 2 || !tap || !aggregate) {
        return false;
    }
    const auto links = graph.linksWhere([&](const GraphLink& link) {
        return link.outputNodeName == tap->name || link.inputNodeName == tap->name ||
               link.outputNodeName == aggregate->name || link.inputNodeName == aggregate->name;
    });
    // While IO is suspended the aggregate is linked to nothing.
    return std::all_of(links.begin(), links.end(), [&](const GraphLink& link) {
        const bool tapToAggregate =
            link.outputNodeName == tap->name && link.inputNodeName == aggregate->name;
        const auto* sink = graph.node(link.inputNodeName);
        const bool aggregateToSink = link.outputNodeName == aggregate->name && sink &&
                                     sink->mediaClass == "Audio/Sink" && !isOurs(*sink);
        return tapToAggregate || aggregateToSink;
    });
}

} // namespace quellora::integration
