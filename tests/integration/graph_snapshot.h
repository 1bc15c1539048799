#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quellora::integration {

struct GraphNode {
    std::uint32_t id = 0;
    std::string name;       // node.name
    std::string mediaClass; // "Audio/Sink", "Stream/Output/Audio", ...
    std::string state;      // "running", "idle", "suspended", "creating", "error"
    // Every property as text (numbers and booleans as JSON writes them).
    std::map<std::string, std::string, std::less<>> properties;

    std::optional<std::string> property(std::string_view key) const;
};

struct GraphLink {
    std::uint32_t id = 0;
    std::uint32_t outputNode = 0;
    std::uint32_t inputNode = 0;
    std::string outputNodeName; // empty when the node is not in the snapshot
    std::string inputNodeName;
    std::string state; // "active", "paused", "init", "error", ...
};

// The server's nodes and links at one moment, as pw-dump reports them.
struct GraphSnapshot {
    std::vector<GraphNode> nodes;
    std::vector<GraphLink> links;

    // Parses pw-dump's JSON; throws std::runtime_error for anything else.
    static GraphSnapshot fromDump(std::string_view json);

    // The first node with that node.name.
    const GraphNode* node(std::string_view name) const;
    const GraphNode* node(std::uint32_t id) const;
    std::vector<const GraphNode*> nodesOfClass(std::string_view mediaClass) const;
    std::vector<GraphLink> linksWhere(const std::function<bool(const GraphLink&)>& predicate) const;
    // Port links from one node to another (one per channel).
    std::vector<GraphLink> linksBetween(std::string_view outputNodeName,
                                        std::string_view inputNodeName) const;
    std::vector<GraphLink> linksFrom(std::string_view outputNodeName) const;
    std::vector<GraphLink> linksInto(std::string_view inputNodeName) const;
    bool isLinked(std::string_view outputNodeName, std::string_view inputNodeName) const {
        return !linksBetween(outputNodeName, inputNodeName).empty();
    }

    // The nodes audio leaving `nodeName` reaches: along links, and through
    // each virtual device from the nodes that take its audio in to those
    // that give it out (one node.link-group).
    std::set<std::string> reachableFrom(std::string_view nodeName) const;
    // The nodes audio can go round and round through; empty when none.
    std::set<std::string> loops() const;

    // One line per node and link, for failure messages.
    std::string describe() const;
};

} // namespace quellora::integration
