#include "engine/hal/simulated/simulated_listener_registry.h"

#include <algorithm>

namespace quellora {

AudioObjectPropertyListenerID
SimulatedListenerRegistry::add(AudioObjectID object, const AudioObjectPropertyAddress& address,
                               AudioObjectPropertyListenerBlock block) {
    const auto id = nextID_++;
    listeners_.emplace(
        id, Listener{object, address.mSelector, address.mScope,
                     std::make_shared<AudioObjectPropertyListenerBlock>(std::move(block))});
    return id;
}

bool SimulatedListenerRegistry::remove(AudioObjectID object,
                                       const AudioObjectPropertyAddress& address,
                                       AudioObjectPropertyListenerID listener) {
    const auto found = listeners_.find(listener);
    if (found == listeners_.end() || found->second.object != object ||
        found->second.selector != address.mSelector || found->second.scope != address.mScope) {
        return false;
    }
    listeners_.erase(found);
    return true;
}

void SimulatedListenerRegistry::notify(AudioObjectID object, FourCharCode selector,
                                       FourCharCode scope) {
    for (const auto& [id, listener] : listeners_) {
        if (listener.object == object && listener.selector == selector && listener.scope == scope) {
            dispatcher_.post([weakSelf = weak_from_this(), listenerID = id] {
                if (const auto self = weakSelf.lock()) {
                    self->deliver(listenerID);
                }
            });
        }
    }
}

void SimulatedListenerRegistry::deliver(AudioObjectPropertyListenerID listener) {
    const auto found = listeners_.find(listener);
    if (found == listeners_.end()) {
        return;
    }
    const auto block = found->second.block;
    if (*block) {
        (*block)();
    }
}

std::size_t SimulatedListenerRegistry::count(AudioObjectID object, FourCharCode selector) const {
    return static_cast<std::size_t>(
        std::count_if(listeners_.begin(), listeners_.end(), [&](const auto& entry) {
            return entry.second.object == object && entry.second.selector == selector;
        }));
}

} // namespace quellora
