// Which applications play through the tap and which around it.

#include "app/app_state.h"

#include <algorithm>

namespace quellora {
namespace {

// By the name the application gives itself, else its binary.
constexpr std::string_view applicationChoicesKey = "applications.v2";
// By the binary, else the name: what is left of them to carry over.
constexpr std::string_view formerApplicationChoicesKey = "applications.v1";

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
    log.notice("Application %{public}s plays %{public}s", bundleID,
               std::string(direct ? "direct" : "levelled"));
    applicationChoicesChanged();
}

bool AppState::forgetApplicationChoice(const std::string& bundleID) {
    // Both, so that a former choice by that name cannot come back.
    const bool chosen = applicationChoices_.forget(bundleID);
    const bool chosenFormerly = formerApplicationChoices_.forget(bundleID);
    if (!chosen && !chosenFormerly) {
        return false;
    }
    log.notice("Application %{public}s: choice forgotten", bundleID);
    applicationChoicesChanged();
    return true;
}

void AppState::applicationChoicesChanged() {
    const auto json = applicationChoices_.encode();
    services.settings->setValue(applicationChoicesKey, Bytes(json.begin(), json.end()));
    if (formerApplicationChoices_.entries().empty()) {
        services.settings->removeValue(formerApplicationChoicesKey);
    } else {
        const auto former = formerApplicationChoices_.encode();
        services.settings->setValue(formerApplicationChoicesKey,
                                    Bytes(former.begin(), former.end()));
    }
    engine_->setApplicationRouting(applicationChoices_.routing());
    refreshApplications();
}

void AppState::restoreApplicationChoices() {
    const auto restore = [this](std::string_view key, ApplicationChoices& choices) {
        const auto data = services.settings->data(key);
        if (!data) {
            return;
        }
        try {
            choices = ApplicationChoices::decode(std::string(data->begin(), data->end()));
        } catch (const SettingsCodingError& error) {
            // Replaced at the next choice.
            log.error("Ignoring the stored application choices: %{public}s", error.what());
        }
    };
    restore(applicationChoicesKey, applicationChoices_);
    restore(formerApplicationChoicesKey, formerApplicationChoices_);
}

void AppState::refreshApplications() {
    const auto& present = applicationMonitor_->applications().get();
    if (carryOverFormerChoices(formerApplicationChoices_, applicationChoices_, present)) {
        log.notice("Application choices stored by binary now belong to the applications' names");
        applicationChoicesChanged(); // refreshes again, with nothing left to carry over
        return;
    }
    std::vector<ApplicationEntry> entries;
    for (const auto& application : present) {
        const auto chosen = applicationChoices_.isDirect(application.bundleID);
        const auto reason = application.directOutputReason;
        entries.push_back({application, chosen.value_or(reason != DirectOutputReason::none),
                           chosen ? DirectOutputReason::none : reason});
    }
    // Then what the user chose for applications that have no stream now.
    const auto remember = [&](const std::map<std::string, bool>& choices) {
        for (const auto& [bundleID, direct] : choices) {
            const auto listed = [&](const ApplicationEntry& entry) {
                return entry.application.bundleID == bundleID;
            };
            if (std::none_of(entries.begin(), entries.end(), listed)) {
                ApplicationEntry remembered;
                remembered.application.bundleID = bundleID;
                remembered.application.name = bundleID;
                remembered.direct = direct;
                remembered.present = false;
                entries.push_back(std::move(remembered));
            }
        }
    };
    remember(applicationChoices_.entries());
    remember(formerApplicationChoices_.entries());
    applications_.set(std::move(entries));
}

} // namespace quellora
