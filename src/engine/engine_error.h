#pragma once

#include "engine/hal/audio_hal.h"

#include <exception>
#include <string>

namespace quellora {

// A failed pipeline build step. The description is the text the user sees.
class EngineError : public std::exception {
public:
    enum class Kind {
        tapCreationFailed,
        aggregateDeviceFailed,
        ioProcFailed,
        startFailed,
        noOutputDevice,
        noTap,
        noIOProc,
    };

    EngineError(Kind kind, OSStatus status = kAudioHardwareNoError);

    Kind kind() const { return kind_; }
    // The failing platform status; 0 for the cases that carry none.
    OSStatus status() const { return status_; }
    const std::string& errorDescription() const { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

    friend bool operator==(const EngineError& a, const EngineError& b) {
        return a.kind_ == b.kind_ && a.status_ == b.status_;
    }

private:
    Kind kind_;
    OSStatus status_;
    std::string description_;
};

} // namespace quellora
