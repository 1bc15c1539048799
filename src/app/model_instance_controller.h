#pragma once

#include "app/app_state.h"
#include "app/instance_control.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quellora {

// The application another process asks for by name, among those with a
// stream and the remembered choices: its bundle ID, or the name it shows (in
// any case). None when nothing matches; throws InstanceRefusal when more
// than one does.
std::optional<ApplicationEntry> findApplication(const std::vector<ApplicationEntry>& applications,
                                                const std::string& name);

// What another process may ask, answered by the model: the same for the tray
// application and `quellora run`. The model may not exist yet (the tray
// application makes it on first use) or any more.
class ModelInstanceController final : public InstanceController {
public:
    ModelInstanceController(std::function<AppState*()> model, std::function<void()> activate);

    void toggle() override;
    void enable() override;
    void disable() override;
    void activate() override;
    std::string mode() const override;
    std::vector<ListedApplication> applications() const override;
    ListedApplication setApplicationDirect(const std::string& name, bool direct) override;
    std::string forgetApplication(const std::string& name) override;

private:
    AppState& startedModel() const;

    std::function<AppState*()> model_;
    std::function<void()> activate_;
};

} // namespace quellora
