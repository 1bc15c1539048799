// Which applications play through the tap and which around it.

#include "app/app_state.h"

namespace quellora {
namespace {

constexpr std::string_view applicationChoicesKey = "applications.v1";

} // namespace

std::string directOutputReasonText(DirectOutputReason reason) {
    switch (reason) {
    case DirectOutputReason::callAudio:
        return "call audio";
    case DirectOutputReason::proAudio:
        return "pro audio";
    case DirectOutputReason::none:
        break;
    }
    return {};
}

void AppState::setApplicationDirect(const std::string& bundleID, bool direct) {
    if (applicationChoices_.isDirect(bundleID) == direct) {
        return;
    }
    applicationChoices_.set(bundleID, direct);
    const auto json = applicationChoices_.encode();
    services.settings->setValue(applicationChoicesKey, Bytes(json.begin(), json.end()));
    log.notice("Application %{public}s plays %{public}s", bundleID,
               std::string(direct ? "direct" : "levelled"));
    engine_->setApplicationRouting(applicationChoices_.routing());
    refreshApplications();
}

void AppState::restoreApplicationChoices() {
    const auto data = services.settings->data(applicationChoicesKey);
    if (!data) {
        return;
    }
    try {
        applicationChoices_ = ApplicationChoices::decode(std::string(data->begin(), data->end()));
    } catch (const SettingsCodingError& error) {
        // Replaced at the next choice.
        log.error("Ignoring the stored application choices: %{public}s", error.what());
    }
}

void AppState::refreshApplications() {
    std::vector<ApplicationEntry> entries;
    for (const auto& application : applicationMonitor_->applications().get()) {
        const auto chosen = applicationChoices_.isDirect(application.bundleID);
        const auto reason = application.directOutputReason;
        entries.push_back({application, chosen.value_or(reason != DirectOutputReason::none),
                           chosen ? DirectOutputReason::none : reason});
    }
    applications_.set(std::move(entries));
}

} // namespace quellora
