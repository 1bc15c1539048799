#include "engine/engine_error.h"

namespace quellora {
namespace {

std::string describe(EngineError::Kind kind) {
    switch (kind) {
    case EngineError::Kind::tapCreationFailed:
        return "Quellora can't access your audio. Open System Settings > Privacy & Security > "
               "Screen & System Audio Recording, and turn on Quellora.";
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
