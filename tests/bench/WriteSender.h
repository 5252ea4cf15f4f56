#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

struct DBusConnection;

namespace zt::test {

// The watch's writes as bluetoothd hands them on: WriteValue calls flagged
// NO_REPLY_EXPECTED, from the daemon double's own connection (the
// application answers only the owner of org.bluez). They are marshalled and
// sent with libdbus on that connection, from this thread, so that each one
// leaves at a known instant and tens of thousands a second can go; QtDBus
// would hand each to its own thread first.
class WriteSender {
public:
    using Clock = std::chrono::steady_clock;

    // To the characteristic at `path` of the client `destination`.
    WriteSender(const QDBusConnection& connection, const QString& destination, const QString& path);

    // Sends one write and returns the instant just before it went to the
    // socket. When the bus does not keep up, first waits until it takes
    // more; nothing when it took nothing for `stall`. (The bus stops
    // reading a sender whose earlier messages still wait, up to its
    // limit, in the queue of a client that does not read them.)
    std::optional<Clock::time_point> send(const QByteArray& value,
                                          std::chrono::milliseconds stall = std::chrono::seconds(30));

private:
    DBusConnection* connection_;
    int socket_ = -1;
    QByteArray destination_;
    QByteArray path_;
    QByteArray device_;
};

// Counts the WriteValue calls that pass the bus at `address` while `act`
// runs and the event loop turns after it (until `expected` have passed, five
// seconds at most), and how many of them are flagged NO_REPLY_EXPECTED.
// Watched by a monitor connection of its own (org.freedesktop.DBus.Monitoring).
struct NoReplyCount {
    int calls = 0;
    int flagged = 0;
};
NoReplyCount countNoReplyWrites(const std::string& address, int expected, const std::function<void()>& act);

} // namespace zt::test
