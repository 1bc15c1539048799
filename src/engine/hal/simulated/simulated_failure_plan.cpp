#include "engine/hal/simulated/simulated_failure_plan.h"

#include <algorithm>
#include <stdexcept>

namespace quellora {

std::string_view halOperationName(HalOperation operation) {
    switch (operation) {
    case HalOperation::getPropertyDataSize:
        return "getPropertyDataSize";
    case HalOperation::getPropertyData:
        return "getPropertyData";
    case HalOperation::getPropertyString:
        return "getPropertyString";
    case HalOperation::setPropertyData:
        return "setPropertyData";
    case HalOperation::createProcessTap:
        return "createProcessTap";
    case HalOperation::destroyProcessTap:
        return "destroyProcessTap";
    case HalOperation::setTapDescription:
        return "setTapDescription";
    case HalOperation::createAggregateDevice:
        return "createAggregateDevice";
    case HalOperation::destroyAggregateDevice:
        return "destroyAggregateDevice";
    case HalOperation::createIOProcID:
        return "createIOProcID";
    case HalOperation::destroyIOProcID:
        return "destroyIOProcID";
    case HalOperation::deviceStart:
        return "deviceStart";
    case HalOperation::deviceStop:
        return "deviceStop";
    case HalOperation::addPropertyListener:
        return "addPropertyListener";
    case HalOperation::removePropertyListener:
        return "removePropertyListener";
    }
    return "unknown";
}

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
