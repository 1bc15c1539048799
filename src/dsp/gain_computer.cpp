#include "dsp/gain_computer.h"

#include <cmath>

namespace quellora {

float GainComputer::makeupDb() const {
    return std::fabs(gainReductionDb(makeupReferenceDb));
}

} // namespace quellora
