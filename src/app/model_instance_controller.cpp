#include "app/model_instance_controller.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>

namespace quellora {
namespace {

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
        return std::tolower(x) == std::tolower(y);
    });
}

ListedApplication listedApplication(const ApplicationEntry& entry) {
    return {entry.application.bundleID,
            entry.application.name,
            entry.direct,
            directOutputReasonText(entry.defaultReason),
            entry.application.playing,
            entry.present,
            entry.application.outputDeviceName};
}

} // namespace

std::optional<ApplicationEntry> findApplication(const std::vector<ApplicationEntry>& applications,
                                                const std::string& name) {
    for (const auto& entry : applications) {
        if (entry.application.bundleID == name) {
            return entry;
        }
    }
    std::vector<const ApplicationEntry*> named;
    for (const auto& entry : applications) {
        if (sameIgnoringCase(entry.application.name, name)) {
            named.push_back(&entry);
        }
    }
    if (named.size() > 1) {
        std::string ids;
        for (const auto* entry : named) {
            ids += (ids.empty() ? "" : ", ") + entry->application.bundleID;
        }
        throw InstanceRefusal(fmt::format(
            "Several applications are called \"{}\" ({}); name one by its ID.", name, ids));
    }
    return named.empty() ? std::nullopt : std::optional(*named.front());
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
                    model->unlevelledAudio().get(),
                    evenedOut ? std::optional(programmes.targetLufs) : std::nullopt);
}

std::vector<ListedApplication> ModelInstanceController::applications() const {
    std::vector<ListedApplication> listed;
    if (const auto* model = model_()) {
        for (const auto& entry : model->applications().get()) {
            listed.push_back(listedApplication(entry));
        }
    }
    return listed;
}

ListedApplication ModelInstanceController::setApplicationDirect(const std::string& name,
                                                                bool direct) {
    auto& model = startedModel();
    // One that does not play now is known by the name it will give itself.
    const auto found = findApplication(model.applications().get(), name);
    const auto bundleID = found ? found->application.bundleID : name;
    if (bundleID.empty()) {
        throw InstanceRefusal("Which application? Give its name, as quellora apps lists it.");
    }
    model.setApplicationDirect(bundleID, direct);
    const auto now = findApplication(model.applications().get(), bundleID);
    return now ? listedApplication(*now)
               : ListedApplication{bundleID, bundleID, direct, {}, false, false, {}};
}

std::string ModelInstanceController::forgetApplication(const std::string& name) {
    auto& model = startedModel();
    const auto found = findApplication(model.applications().get(), name);
    if (!found || !model.forgetApplicationChoice(found->application.bundleID)) {
        throw InstanceRefusal(fmt::format(
            "Quellora remembers no choice for \"{}\"; quellora apps lists those it does.",
            found ? found->application.name : name));
    }
    return found->application.name;
}

AppState& ModelInstanceController::startedModel() const {
    auto* model = model_();
    if (!model) {
        throw InstanceRefusal("Quellora is still starting; try again in a moment.");
    }
    return *model;
}

} // namespace quellora
