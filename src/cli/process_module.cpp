// The process module's one exported symbol.

#include "cli/process_module.h"

#include "cli/process_command.h"

namespace quellora {
namespace {

const ProcessModule module{QUELLORA_VERSION, &runProcessCommand};

} // namespace
} // namespace quellora

extern "C" __attribute__((visibility("default"))) const void* quelloraModule() {
    return &quellora::module;
}
