// The tray module's one exported symbol. Failures stay inside the module:
// the executable only ever sees an exit status.

#include "ui/tray/tray_module.h"

#include "ui/tray/tray_application.h"

#include <new>
#include <ostream>

namespace quellora {
namespace {

int runTray(std::ostream& err) {
    try {
        return runTrayApplication(err);
    } catch (const std::exception& error) {
        err << "quellora: " << error.what() << '\n';
    }
    return 1;
}

const TrayModule module{QUELLORA_VERSION, &runTray};

} // namespace
} // namespace quellora

extern "C" __attribute__((visibility("default"))) const void* quelloraModule() {
    return &quellora::module;
}
