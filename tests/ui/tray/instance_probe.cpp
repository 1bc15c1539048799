// instance_probe RESULT_FILE: stands in for a newly started Quellora. Claims
// the session's name as the tray application does and writes what came of
// it, "claimed" or "held", to RESULT_FILE.
#include "app/session_bus_instance.h"

#include <fstream>

namespace {

class IdleController final : public quellora::InstanceController {
public:
    void toggle() override {}
    void enable() override {}
    void disable() override {}
    void activate() override {}
    std::string mode() const override { return "off"; }
    std::vector<quellora::ListedApplication> applications() const override { return {}; }
    quellora::ListedApplication setApplicationDirect(const std::string&, bool) override {
        return {};
    }
    std::string forgetApplication(const std::string&) override { return {}; }
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    IdleController controller;
    quellora::SessionBusInstance instance(quellora::InstanceKind::tray, controller);
    const auto claim = instance.claim();
    std::ofstream(argv[1]) << (claim == quellora::SessionBusInstance::Claim::owned ? "claimed"
                                                                                   : "held");
    return 0;
}
