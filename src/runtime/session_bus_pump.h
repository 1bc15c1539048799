#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

namespace quellora {

class SessionBusInstance;

// Runs a SessionBusInstance's connection on the Qt event loop (QtCore only,
// so that `quellora run` can use it): processes what arrives on its socket,
// writes when the socket takes more, and keeps the connection's deadlines.
class SessionBusPump final : public QObject {
public:
    explicit SessionBusPump(SessionBusInstance& bus);

private:
    void pump();

    SessionBusInstance& bus_;
    QSocketNotifier readable_;
    QSocketNotifier writable_;
    QTimer deadline_;
};

} // namespace quellora
