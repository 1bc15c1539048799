#pragma once

#include <stdexcept>

namespace quellora {

// A value in the settings that is not in the form this version stores.
class SettingsCodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace quellora
