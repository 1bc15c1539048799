#include "app/application_choices.h"

#include <nlohmann/json.hpp>

namespace quellora {
namespace {

constexpr const char* directText = "direct";
constexpr const char* levelledText = "levelled";

} // namespace

std::optional<bool> ApplicationChoices::isDirect(const std::string& bundleID) const {
    const auto found = direct_.find(bundleID);
    return found == direct_.end() ? std::nullopt : std::optional(found->second);
}

ApplicationRouting ApplicationChoices::routing() const {
    ApplicationRouting routing;
    for (const auto& [bundleID, direct] : direct_) {
        (direct ? routing.direct : routing.levelled).push_back(bundleID);
    }
    return routing;
}

std::string ApplicationChoices::encode() const {
    auto json = nlohmann::json::object();
    for (const auto& [bundleID, direct] : direct_) {
        json[bundleID] = direct ? directText : levelledText;
    }
    // Names come from applications; one that is not UTF-8 must not lose the others.
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool carryOverFormerChoices(ApplicationChoices& former, ApplicationChoices& choices,
                            const std::vector<AudioApplication>& applications) {
    std::vector<std::string> carried;
    for (const auto& [binary, direct] : former.entries()) {
        bool runs = false;
        for (const auto& application : applications) {
            if (application.binary != binary && application.bundleID != binary) {
                continue;
            }
            runs = true;
            if (!choices.isDirect(application.bundleID)) {
                choices.set(application.bundleID, direct);
            }
        }
        if (runs) {
            carried.push_back(binary);
        }
    }
    for (const auto& binary : carried) {
        former.forget(binary);
    }
    return !carried.empty();
}

ApplicationChoices ApplicationChoices::decode(std::string_view text) {
    const auto json = nlohmann::json::parse(text, nullptr, false);
    if (!json.is_object()) {
        throw SettingsCodingError("the application choices are not a JSON object");
    }
    ApplicationChoices choices;
    for (const auto& [bundleID, value] : json.items()) {
        if (value == directText || value == levelledText) {
            choices.set(bundleID, value == directText);
        }
    }
    return choices;
}

} // namespace quellora
