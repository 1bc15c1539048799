#include "runtime/demo_audio_server.h"

#include "runtime/demo_programme.h"

#include <memory>

namespace quellora {
namespace {

// Any process id but the simulated server's own.
constexpr std::int32_t playerPid = 5150;

} // namespace

DemoAudioServer::DemoAudioServer(Dispatcher& mainQueue)
    : hal_(mainQueue) {
    const auto speakers = hal_.addOutputDevice({.uid = "demo-speakers", .name = "Demo Speakers"});
    hal_.setDefaultOutput(speakers);
    // An application the panel lists: sent direct, its programme no longer reaches the tap.
    hal_.startPlayback(
        hal_.addProcess({.pid = playerPid, .bundleID = "quellora-demo", .name = "Demo Programme"}),
        speakers);
    // One tap at a time reads the programme, on its aggregate's IO thread.
    auto programme = std::make_shared<DemoProgramme>(OutputDeviceProfile{}.nominalSampleRate);
    hal_.runDevicesOnThreads(
        {.tapSource = [programme](float* samples, std::uint32_t frames, std::uint32_t channels) {
            programme->fill(samples, frames, channels);
        }});
}

} // namespace quellora
