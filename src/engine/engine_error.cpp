#include "engine/engine_error.h"

namespace quellora {
namespace {

std::string describe(EngineError::Kind kind) {
    switch (kind) {
    case EngineError::Kind::tapCreationFailed:
        // The tap is our own sink in the PipeWire graph: it fails when the
        // server or its session manager is gone or does not answer.
        return "Quellora can't route your audio through itself. Check that PipeWire runs: "
               "systemctl --user status pipewire wireplumber. Quellora keeps trying.";
    case EngineError::Kind::noOutputDevice:
        return "Can't find your speakers or headphones. Make sure they're connected.";
    case EngineError::Kind::aggregateDeviceFailed:
    case EngineError::Kind::ioProcFailed:
    case EngineError::Kind::startFailed:
    case EngineError::Kind::noTap:
    case EngineError::Kind::noIOProc:
        break;
    }
    return "Reconnecting to your audio…";
}

} // namespace

EngineError::EngineError(Kind kind, OSStatus status)
    : kind_(kind)
    , status_(status)
    , description_(describe(kind)) {}

} // namespace quellora
