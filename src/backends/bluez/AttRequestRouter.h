#pragma once

#include "backends/bluez/MemoryRelease.h"
#include "link/platform/PeripheralManager.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QTimer>
#include <QVariantMap>

#include <cstdint>
#include <deque>
#include <map>

class QDBusContext;

namespace zt::bluez {

struct GattCharacteristic;

// Turns the daemon's ReadValue and WriteValue calls into requests for the
// delegate and the delegate's respond() into the D-Bus answers. A call gets
// an answer only if its sender waits for one: BlueZ sends writes without
// response as calls that expect none.
//
// Writes are taken off the bus at once and handed to the delegate right
// after, in order, in turns with the bus's deliveries. Qt's D-Bus thread
// keeps reading while the main thread is busy, and libdbus stops reading a
// connection for good once 63 MiB of calls it read wait unfreed (it asks to
// resume from the thread that frees them, the main thread, which Qt
// refuses): so a call is never kept unfreed while the link works on it,
// however many frames it carries.
class AttRequestRouter {
public:
    AttRequestRouter(PeripheralManager& manager, PeripheralManagerDelegate& delegate);

    // Runs the delegate for the call in progress on `call` and sends the
    // answer, if one is awaited, before it returns (a fixed value is
    // returned for Qt to send). Ahead of any write still queued: the answer
    // does not depend on them.
    QByteArray read(const GattCharacteristic& characteristic, const QVariantMap& options, const QDBusContext& call);
    // Queues the write for the delegate; its answer, if one is awaited, is
    // sent once the delegate has had it.
    void write(const GattCharacteristic& characteristic, const QByteArray& value, const QVariantMap& options,
               const QDBusContext& call);

    // Answers the request if it is still waiting; anything else is ignored.
    void respond(const ATTRequest& request, ATTResult result);

private:
    struct Waiting {
        QDBusMessage call;
        QDBusConnection bus;
        bool read;
    };

    ATTRequest makeRequest(const GattCharacteristic& characteristic, const QVariantMap& options);
    void awaitAnswer(std::uint64_t id, const QDBusContext& call, bool read);
    void failIfUnanswered(std::uint64_t id);
    void deliverWrites();

    PeripheralManager& manager_;
    PeripheralManagerDelegate& delegate_;
    std::uint64_t nextId_ = 1;
    std::map<std::uint64_t, Waiting> waiting_;
    std::deque<ATTRequest> writes_;
    QTimer delivery_;
    MemoryRelease memoryRelease_;
};

} // namespace zt::bluez
