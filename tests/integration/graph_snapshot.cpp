#include "graph_snapshot.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

namespace quellora::integration {
namespace {

using Json = nlohmann::json;

std::string text(const Json& value) {
    return value.is_string() ? value.get<std::string>() : value.dump();
}

std::uint32_t idOf(const Json& info, const char* key) {
    const auto found = info.find(key);
    return found != info.end() && found->is_number_unsigned() ? found->get<std::uint32_t>() : 0;
}

} // namespace

std::optional<std::string> GraphNode::property(std::string_view key) const {
    const auto found = properties.find(key);
    if (found == properties.end()) {
        return std::nullopt;
    }
    return found->second;
}

GraphSnapshot GraphSnapshot::fromDump(std::string_view json) {
    // pw-dump may print more than one array when objects arrive while it syncs; later
    // entries describe the same objects more recently, and a null info means removed.
    std::map<std::uint32_t, Json> latest;
    std::istringstream stream{std::string(json)};
    while ((stream >> std::ws).peek() != std::char_traits<char>::eof()) {
        Json batch;
        try {
            stream >> batch;
        } catch (const Json::exception&) {
            batch = nullptr;
        }
        if (!batch.is_array()) {
            throw std::runtime_error("pw-dump did not print a JSON array: " +
                                     std::string(json.substr(0, 200)));
        }
        for (auto& object : batch) {
            const auto id = object.value("id", 0u);
            if (object.contains("info") && object["info"].is_null()) {
                latest.erase(id);
            } else {
                latest[id] = std::move(object);
            }
        }
    }
    Json objects = Json::array();
    for (auto& [id, object] : latest) {
        objects.push_back(std::move(object));
    }
    GraphSnapshot snapshot;
    for (const auto& object : objects) {
        const auto type = object.value("type", "");
        const auto info = object.value("info", Json::object());
        if (type == "PipeWire:Interface:Node") {
            GraphNode node;
            node.id = object.value("id", 0u);
            node.state = info.value("state", "");
            const auto properties = info.value("props", Json::object());
            for (const auto& [key, value] : properties.items()) {
                node.properties.emplace(key, text(value));
            }
            node.name = node.property("node.name").value_or("");
            node.mediaClass = node.property("media.class").value_or("");
            snapshot.nodes.push_back(std::move(node));
        } else if (type == "PipeWire:Interface:Link") {
            GraphLink link;
            link.id = object.value("id", 0u);
            link.outputNode = idOf(info, "output-node-id");
            link.inputNode = idOf(info, "input-node-id");
            link.state = info.value("state", "");
            snapshot.links.push_back(link);
        }
    }
    for (auto& link : snapshot.links) {
        if (const auto* output = snapshot.node(link.outputNode)) {
            link.outputNodeName = output->name;
        }
        if (const auto* input = snapshot.node(link.inputNode)) {
            link.inputNodeName = input->name;
        }
    }
    return snapshot;
}

const GraphNode* GraphSnapshot::node(std::string_view name) const {
    const auto found = std::find_if(nodes.begin(), nodes.end(), [&](const GraphNode& candidate) {
        return candidate.name == name;
    });
    return found != nodes.end() ? &*found : nullptr;
}

const GraphNode* GraphSnapshot::node(std::uint32_t id) const {
    const auto found = std::find_if(nodes.begin(), nodes.end(),
                                    [&](const GraphNode& candidate) { return candidate.id == id; });
    return found != nodes.end() ? &*found : nullptr;
}

std::vector<const GraphNode*> GraphSnapshot::nodesOfClass(std::string_view mediaClass) const {
    std::vector<const GraphNode*> found;
    for (const auto& candidate : nodes) {
        if (candidate.mediaClass == mediaClass) {
            found.push_back(&candidate);
        }
    }
    return found;
}

std::vector<GraphLink>
GraphSnapshot::linksWhere(const std::function<bool(const GraphLink&)>& predicate) const {
    std::vector<GraphLink> found;
    std::copy_if(links.begin(), links.end(), std::back_inserter(found), predicate);
    return found;
}

std::vector<GraphLink> GraphSnapshot::linksBetween(std::string_view outputNodeName,
                                                   std::string_view inputNodeName) const {
    return linksWhere([&](const GraphLink& link) {
        return link.outputNodeName == outputNodeName && link.inputNodeName == inputNodeName;
    });
}

std::vector<GraphLink> GraphSnapshot::linksFrom(std::string_view outputNodeName) const {
    return linksWhere([&](const GraphLink& link) { return link.outputNodeName == outputNodeName; });
}

std::vector<GraphLink> GraphSnapshot::linksInto(std::string_view inputNodeName) const {
    return linksWhere([&](const GraphLink& link) { return link.inputNodeName == inputNodeName; });
}

std::set<std::string> GraphSnapshot::reachableFrom(std::string_view nodeName) const {
    const auto inward = [](const GraphNode& node) {
        return node.mediaClass.rfind("Audio/Sink", 0) == 0 ||
               node.mediaClass == "Stream/Input/Audio";
    };
    const auto outward = [](const GraphNode& node) {
        return node.mediaClass.rfind("Audio/Source", 0) == 0 ||
               node.mediaClass == "Stream/Output/Audio";
    };
    std::set<std::string> reached;
    std::vector<std::string> pending{std::string(nodeName)};
    while (!pending.empty()) {
        const auto name = pending.back();
        pending.pop_back();
        std::vector<std::string> next;
        for (const auto& link : linksFrom(name)) {
            next.push_back(link.inputNodeName);
        }
        const auto* from = node(name);
        const auto group = from ? from->property("node.link-group") : std::nullopt;
        for (const auto& member : nodes) {
            if (group && inward(*from) && outward(member) &&
                member.property("node.link-group") == group) {
                next.push_back(member.name);
            }
        }
        for (auto& target : next) {
            if (reached.insert(target).second) {
                pending.push_back(std::move(target));
            }
        }
    }
    return reached;
}

std::set<std::string> GraphSnapshot::loops() const {
    std::set<std::string> found;
    for (const auto& node : nodes) {
        if (reachableFrom(node.name).contains(node.name)) {
            found.insert(node.name);
        }
    }
    return found;
}

std::string GraphSnapshot::describe() const {
    std::string lines;
    for (const auto& node : nodes) {
        lines += "node " + std::to_string(node.id) + " " + node.name + " [" + node.mediaClass +
                 "] " + node.state + "\n";
    }
    for (const auto& link : links) {
        lines += "link " + std::to_string(link.id) + " " + link.outputNodeName + " -> " +
                 link.inputNodeName + " " + link.state + "\n";
    }
    return lines;
}

} // namespace quellora::integration
