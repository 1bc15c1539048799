#pragma once

#include "base/dispatcher.h"
#include "engine/hal/simulated/simulated_hal.h"

namespace quellora {

// The simulated audio server of the demo mode: speakers as the default
// output, a player keeping them busy (so that idle suspend never stops the
// processing) and the demo programme as what every tap hears, all running
// on the server's own real-time threads.
class DemoAudioServer {
public:
    explicit DemoAudioServer(Dispatcher& mainQueue);

    AudioHal& hal() { return hal_; }

private:
    SimulatedHal hal_;
};

} // namespace quellora
