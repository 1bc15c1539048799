#pragma once

// What the `quellora` executable reaches of the tray application, which
// lives in a module of its own (see cli/module_loader.h) so that the other
// commands never load Qt's GUI, widget and D-Bus libraries or the X client
// libraries. This header is the whole interface between the two: plain C++,
// no Qt.

#include <iosfwd>

namespace quellora {

struct TrayModule {
    static constexpr const char* fileName = "quellora-tray.so";

    // The version the module was built as; it must be the executable's.
    const char* version;
    // The tray application; returns the process exit status.
    int (*runTrayApplication)(std::ostream& err);
};

} // namespace quellora
