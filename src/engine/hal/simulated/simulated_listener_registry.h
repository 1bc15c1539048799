#pragma once

#include "base/dispatcher.h"
#include "engine/hal/audio_hal.h"

#include <cstddef>
#include <map>
#include <memory>

namespace quellora {

// Property listeners and their delivery: a change posts one delivery per
// matching listener to the main dispatcher, and a delivery whose listener was
// removed in the meantime (or whose registry is gone) does nothing.
// Main thread only; create with std::make_shared, as deliveries hold it weakly.
class SimulatedListenerRegistry : public std::enable_shared_from_this<SimulatedListenerRegistry> {
public:
    explicit SimulatedListenerRegistry(Dispatcher& dispatcher)
        : dispatcher_(dispatcher) {}

    AudioObjectPropertyListenerID add(AudioObjectID object,
                                      const AudioObjectPropertyAddress& address,
                                      AudioObjectPropertyListenerBlock block);
    // False when no listener with this id is installed at this address.
    bool remove(AudioObjectID object, const AudioObjectPropertyAddress& address,
                AudioObjectPropertyListenerID listener);

    // Listeners match a change by object, selector and scope.
    void notify(AudioObjectID object, FourCharCode selector,
                FourCharCode scope = AudioScope::global);

    std::size_t count(AudioObjectID object, FourCharCode selector) const;
    std::size_t count() const { return listeners_.size(); }

private:
    struct Listener {
        AudioObjectID object;
        FourCharCode selector;
        FourCharCode scope;
        // Shared so that a block may remove its own listener while running.
        std::shared_ptr<AudioObjectPropertyListenerBlock> block;
    };

    void deliver(AudioObjectPropertyListenerID listener);

    Dispatcher& dispatcher_;
    AudioObjectPropertyListenerID nextID_ = 1;
    std::map<AudioObjectPropertyListenerID, Listener> listeners_;
};

} // namespace quellora
