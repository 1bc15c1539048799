#include "runtime/session_bus_pump.h"

#include "app/session_bus_instance.h"

#include <poll.h>

#include <chrono>

namespace quellora {

SessionBusPump::SessionBusPump(SessionBusInstance& bus)
    : bus_(bus)
    , readable_(bus.fileDescriptor(), QSocketNotifier::Read)
    , writable_(bus.fileDescriptor(), QSocketNotifier::Write) {
    deadline_.setSingleShot(true);
    connect(&readable_, &QSocketNotifier::activated, this, [this] { pump(); });
    connect(&writable_, &QSocketNotifier::activated, this, [this] { pump(); });
    connect(&deadline_, &QTimer::timeout, this, [this] { pump(); });
    // What arrived while the bus was being set up (the name's announcement)
    // is already read from the socket: process it on the first turn of the loop.
    QTimer::singleShot(0, this, [this] { pump(); });
}

void SessionBusPump::pump() {
    bus_.process();
    writable_.setEnabled((bus_.pollEvents() & POLLOUT) != 0);
    if (const auto timeout = bus_.timeout()) {
        deadline_.start(std::chrono::ceil<std::chrono::milliseconds>(*timeout));
    } else {
        deadline_.stop();
    }
}

} // namespace quellora
