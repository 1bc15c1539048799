#pragma once

#include <string_view>

namespace quellora {

// Names the application everywhere the desktop needs one name: log subsystem,
// desktop entry, autostart entry and D-Bus service.
inline constexpr std::string_view applicationId = "org.quellora.Quellora";

} // namespace quellora
