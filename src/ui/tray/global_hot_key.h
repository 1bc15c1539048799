#pragma once

#include <functional>

namespace quellora {

// The system-wide key combination Control-Shift-C. Main thread only.
class GlobalHotKey {
public:
    virtual ~GlobalHotKey() = default;

    // Claims the combination; `pressed` is then called on the main thread
    // for every press, also while another application has the focus. False
    // when the desktop does not offer global keys or another application
    // holds the combination; nothing is claimed then.
    virtual bool registerHotKey(std::function<void()> pressed) = 0;
};

} // namespace quellora
