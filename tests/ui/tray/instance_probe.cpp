// instance_probe RESULT_FILE: stands in for a newly started Quellora. Claims
// the session's name as the tray application does and writes what came of
// it, "claimed" or "held", to RESULT_FILE.
#include "ui/tray/instance_service.h"

#include <QCoreApplication>
#include <fstream>

namespace {

class IdleController final : public quellora::InstanceController {
public:
    void toggle() override {}
    void enable() override {}
    void disable() override {}
    void activate() override {}
    std::string mode() const override { return "off"; }
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    QCoreApplication application(argc, argv);
    IdleController controller;
    quellora::InstanceService service(controller);
    const auto claim = service.claim();
    std::ofstream(argv[1]) << (claim == quellora::InstanceService::Claim::claimed ? "claimed"
                                                                                  : "held");
    return 0;
}
