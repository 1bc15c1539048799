#include "base/manual_dispatcher.h"
#include "engine/hal/hal_contract.h"
#include "engine/hal/pipewire/pipewire_hal.h"
#include "private_pipewire_session.h"

#include <chrono>
#include <thread>

namespace quellora::integration {
namespace {

using namespace std::chrono_literals;

// One private server per test program, left with its two sinks and
// "speakers" the default by every case.
PrivatePipeWireSession& server() {
    static PrivatePipeWireSession session;
    return session;
}

// The adapter on the private server. Its main queue keeps virtual time in
// step with the real clock, as the adapter's own waits are on that clock.
class PipeWireHalWorld final : public HalWorld {
public:
    PipeWireHalWorld() {
        server().setDefaultSink("speakers");
        server().forceSampleRate(0);
    }

    AudioHal& hal() override { return *hal_; }

    bool runUntil(const std::function<bool()>& done) override { return runFor(10s, done); }

    void settle() override {
        runFor(500ms, [] { return false; });
    }

    void closeHal() override { hal_.reset(); }

    void setDefaultOutput(const std::string& uid) override { server().setDefaultSink(uid); }

    void setSampleRate(double rate) override { server().forceSampleRate(static_cast<int>(rate)); }

    void plugDevice(const std::string& uid) override { server().createNullSink({uid, uid}); }

    void unplugDevice(const std::string& uid) override { server().destroyNode(uid); }

    std::int32_t startPlaying() override {
        playback_.emplace(server().play(tone(-20.0, 30.0)));
        return playback_->pid();
    }

    bool leftAsItWas() override {
        const auto graph = server().graph();
        const auto& player = playback_ ? playback_->nodeName() : std::string();
        return graph.nodes.size() == nodesAtStart_ + (playback_ ? 1 : 0) &&
               graph.linksFrom(player).size() == graph.linksBetween(player, "speakers").size() &&
               (!playback_ || graph.isLinked(player, "speakers"));
    }

private:
    bool runFor(Dispatcher::Duration timeout, const std::function<bool()>& done) {
        const auto deadline = Dispatcher::Clock::now() + timeout;
        for (;;) {
            const auto now = Dispatcher::Clock::now();
            dispatcher_.advance(now - pumped_);
            pumped_ = now;
            if (done()) {
                return true;
            }
            if (now > deadline) {
                return false;
            }
            std::this_thread::sleep_for(5ms);
        }
    }

    const std::size_t nodesAtStart_ = server().graph().nodes.size();
    ManualDispatcher dispatcher_;
    Dispatcher::TimePoint pumped_ = Dispatcher::Clock::now();
    std::optional<Playback> playback_;
    std::unique_ptr<PipeWireHal> hal_ = std::make_unique<PipeWireHal>(dispatcher_);
};

INSTANTIATE_TEST_SUITE_P(Contract, HalContract,
                         ::testing::Values(HalBackend{
                             "PipeWire", [] {
                                 return std::make_unique<PipeWireHalWorld>();
                             }}));

} // namespace
} // namespace quellora::integration
