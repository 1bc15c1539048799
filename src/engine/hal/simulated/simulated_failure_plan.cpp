#include "engine/hal/simulated/simulated_failure_plan.h"

#include <algorithm>
#include <stdexcept>

namespace quellora {

void SimulatedFailurePlan::inject(HalOperation operation, OSStatus status, int times,
                                  FourCharCode selector, AudioObjectID object) {
    if (status == kAudioHardwareNoError || (times < 1 && times != always)) {
        throw std::invalid_argument("SimulatedFailurePlan: a failure needs a status and a count");
    }
    rules_.push_back({operation, status, times, selector, object});
}

OSStatus SimulatedFailurePlan::take(HalOperation operation, AudioObjectID object,
                                    FourCharCode selector) {
    const auto rule = std::find_if(rules_.begin(), rules_.end(), [&](const Rule& candidate) {
        return candidate.operation == operation &&
               (candidate.selector == 0 || candidate.selector == selector) &&
               (candidate.object == 0 || candidate.object == object);
    });
    if (rule == rules_.end()) {
        return kAudioHardwareNoError;
    }
    const auto status = rule->status;
    if (rule->remaining != always && --rule->remaining == 0) {
        rules_.erase(rule);
    }
    return status;
}

} // namespace quellora
