#pragma once

#include "app/app_state.h"
#include "base/observable.h"

#include <functional>
#include <iterator>
#include <vector>

namespace quellora {

// Calls `changed` after any of `observables` changes. Observing ends when the
// returned subscriptions go, so a view that keeps them stops being called
// when it is destroyed, whichever of it and the model goes first.
template <typename... T>
std::vector<Subscription> observeAll(const std::function<void()>& changed,
                                     const Observable<T>&... observables) {
    std::vector<Subscription> subscriptions;
    (subscriptions.push_back(observables.subscribe([changed](const T&) { changed(); })), ...);
    return subscriptions;
}

// Moves `more` to the end of `subscriptions`.
inline void append(std::vector<Subscription>& subscriptions, std::vector<Subscription> more) {
    std::move(more.begin(), more.end(), std::back_inserter(subscriptions));
}

// Everything the preset texts and actions are derived from: the selection,
// the saved presets, the active one and the seven custom values.
std::vector<Subscription> observePresets(const AppState& model,
                                         const std::function<void()>& changed);

} // namespace quellora
