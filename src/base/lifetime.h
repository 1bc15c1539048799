#pragma once

#include <memory>
#include <utility>

namespace quellora {

// Lets closures that outlive a call hold their owner weakly: the owner keeps
// a Lifetime member, and `guard` wraps a callable so that it does nothing once
// the owner is gone. Meant for closures that run on the owner's own thread.
class Lifetime {
public:
    Lifetime() = default;
    Lifetime(const Lifetime&) = delete;
    Lifetime& operator=(const Lifetime&) = delete;

    template <typename Function>
    auto guard(Function function) const {
        return [weak = std::weak_ptr<const int>(token_),
                function = std::move(function)](auto&&... arguments) {
            if (weak.lock()) {
                function(std::forward<decltype(arguments)>(arguments)...);
            }
        };
    }

private:
    std::shared_ptr<const int> token_ = std::make_shared<const int>(0);
};

} // namespace quellora
