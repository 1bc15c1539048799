#pragma once

#include "app/app_state.h"
#include "app/instance_control.h"

#include <functional>
#include <string>
#include <vector>

namespace quellora {

// The application another process asks for by name: its bundle ID, or the
// name it shows (in any case). A bundle ID with a remembered choice also
// counts while the application does not play. Throws InstanceRefusal saying
// why none or more than one matches.
struct NamedApplication {
    std::string bundleID;
    std::string name;
};
NamedApplication findApplication(const std::vector<ApplicationEntry>& playing,
                                 const ApplicationChoices& choices, const std::string& name);

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
    std::string setApplicationDirect(const std::string& name, bool direct) override;

private:
    std::function<AppState*()> model_;
    std::function<void()> activate_;
};

} // namespace quellora
