#include "app/model_instance_controller.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <set>

namespace quellora {
namespace {

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
        return std::tolower(x) == std::tolower(y);
    });
}

} // namespace

NamedApplication findApplication(const std::vector<ApplicationEntry>& playing,
                                 const ApplicationChoices& choices, const std::string& name) {
    for (const auto& entry : playing) {
        if (entry.application.bundleID == name) {
            return {entry.application.bundleID, entry.application.name};
        }
    }
    std::vector<const AudioApplication*> named;
    for (const auto& entry : playing) {
        if (sameIgnoringCase(entry.application.name, name)) {
            named.push_back(&entry.application);
        }
    }
    if (named.size() == 1) {
        return {named.front()->bundleID, named.front()->name};
    }
    if (named.size() > 1) {
        std::string ids;
        for (const auto* application : named) {
            ids += (ids.empty() ? "" : ", ") + application->bundleID;
        }
        throw InstanceRefusal(fmt::format(
            "Several applications are called \"{}\" ({}); name one by its ID.", name, ids));
    }
    if (choices.isDirect(name)) {
        return {name, name};
    }
    throw InstanceRefusal(fmt::format("No application called \"{}\" plays now, and none by that "
                                      "ID has a setting; quellora apps lists those that play.",
                                      name));
}

ModelInstanceController::ModelInstanceController(std::function<AppState*()> model,
                                                 std::function<void()> activate)
    : model_(std::move(model))
    , activate_(std::move(activate)) {}

void ModelInstanceController::toggle() {
    if (auto* model = model_()) {
        model->send(toggleEvent(model->mode().get()));
    }
}

void ModelInstanceController::enable() {
    if (auto* model = model_()) {
        model->send(AppEvent::Kind::userEnabled);
    }
}

void ModelInstanceController::disable() {
    if (auto* model = model_()) {
        model->send(AppEvent::Kind::userDisabled);
    }
}

void ModelInstanceController::activate() {
    if (activate_) {
        activate_();
    }
}

std::string ModelInstanceController::mode() const {
    const auto* model = model_();
    if (!model) {
        return modeText(AppMode::off());
    }
    // Night keeps its own aim, so no target is in force there.
    const auto& programmes = model->programmeLevelling().get();
    const bool evenedOut = programmes.enabled && model->selectedPreset().get() != Preset::night;
    return modeText(model->mode().get(), model->waitingForAudioOutput().get(),
                    evenedOut ? std::optional(programmes.targetLufs) : std::nullopt);
}

std::vector<ListedApplication> ModelInstanceController::applications() const {
    std::vector<ListedApplication> listed;
    if (const auto* model = model_()) {
        for (const auto& entry : model->applications().get()) {
            listed.push_back({entry.application.bundleID, entry.application.name, entry.direct,
                              directOutputReasonText(entry.defaultReason),
                              entry.application.playing});
        }
    }
    return listed;
}

std::string ModelInstanceController::setApplicationDirect(const std::string& name, bool direct) {
    auto* model = model_();
    if (!model) {
        throw InstanceRefusal("Quellora is still starting; try again in a moment.");
    }
    const auto found =
        findApplication(model->applications().get(), model->applicationChoices(), name);
    model->setApplicationDirect(found.bundleID, direct);
    return found.name;
}

} // namespace quellora
