#pragma once

namespace quellora {

// The width the panel gives its displays: 300 less its padding of 16 on each
// side. The displays take whatever width they get; this is their size hint.
constexpr int panelContentWidth = 268;

} // namespace quellora
