#pragma once

#include "backends/bluez/BluezPeripheralManager.h"
#include "backends/bluez/MemoryRelease.h"
#include "link/platform/PeripheralManager.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QTimer>
#include <QVariantMap>

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <vector>

class QDBusContext;

namespace zt::bluez {

struct GattCharacteristic;

// Turns the daemon's ReadValue and WriteValue calls into requests for the
// delegate and the delegate's respond() into the D-Bus answers. A call gets
// an answer only if its sender waits for one: BlueZ sends writes without
// response as calls that expect none.
//
// A write that finds none waiting goes to the delegate at once, within its
// call. In a burst (writes waiting, or the last one handed over at once
// less than a slice ago) writes are taken off the bus at once and handed to
// the delegate right after, in order, a slice at a time in turns with the
// bus's deliveries. Qt's D-Bus thread keeps reading while the main thread
// is busy, and libdbus stops reading a connection for good once 63 MiB of
// calls it read wait unfreed (it asks to resume from the thread that frees
// them, the main thread, which Qt refuses): so however fast calls come,
// none waits to be taken off the bus for much longer than a slice.
class AttRequestRouter {
public:
    // A write handed over within its call goes through `writeTurn`, if given.
    AttRequestRouter(PeripheralManager& manager, PeripheralManagerDelegate& delegate, WriteTurn writeTurn = {});

    // Runs the delegate for the call in progress on `call` and sends the
    // answer, if one is awaited, before it returns (a fixed value is
    // returned for Qt to send). Ahead of any write still queued: the answer
    // does not depend on them.
    QByteArray read(const GattCharacteristic& characteristic, const QVariantMap& options, const QDBusContext& call);
    // Hands the write to the delegate, at once or from the queue; its
    // answer, if one is awaited, is sent once the delegate has had it.
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
    void deliver(std::vector<ATTRequest>& one);
    void deliverWrites();

    PeripheralManager& manager_;
    PeripheralManagerDelegate& delegate_;
    const WriteTurn writeTurn_;
    std::uint64_t nextId_ = 1;
    std::map<std::uint64_t, Waiting> waiting_;
    std::deque<ATTRequest> writes_;
    QTimer delivery_;
    bool delivering_ = false;
    // When the last write handed over at once was done with.
    std::chrono::steady_clock::time_point lastAtOnce_;
    MemoryRelease memoryRelease_;
};

} // namespace zt::bluez
