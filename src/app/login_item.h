#pragma once

#include <stdexcept>
#include <string>

namespace quellora {

// Whether the application starts when the user logs in. Only `enabled` and
// `requiresApproval` are told apart by the model; the rest mean "not set up".
enum class LoginItemStatus { notRegistered, enabled, requiresApproval, notFound };

// A registration or unregistration that did not work, with a message a
// person can act on.
class LoginItemError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The platform's login-item service for this application. Main thread only;
// every call is synchronous.
class LoginItemService {
public:
    virtual ~LoginItemService() = default;
    virtual LoginItemStatus status() const = 0;
    // Throw LoginItemError on failure.
    virtual void registerItem() = 0;
    virtual void unregisterItem() = 0;
};

} // namespace quellora
