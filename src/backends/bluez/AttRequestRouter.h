#pragma once

#include "link/platform/PeripheralManager.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

#include <cstdint>
#include <map>

class QDBusContext;

namespace zt::bluez {

struct GattCharacteristic;

// Turns the daemon's ReadValue and WriteValue calls into requests for the
// delegate and the delegate's respond() into the D-Bus answers. A call gets
// an answer only if its sender waits for one: BlueZ sends writes without
// response as calls that expect none.
class AttRequestRouter {
public:
    AttRequestRouter(PeripheralManager& manager, PeripheralManagerDelegate& delegate);

    // Each runs the delegate for the call in progress on `call` and sends the
    // answer, if one is awaited, before it returns (a fixed value is returned
    // for Qt to send).
    QByteArray read(const GattCharacteristic& characteristic, const QVariantMap& options, const QDBusContext& call);
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

    PeripheralManager& manager_;
    PeripheralManagerDelegate& delegate_;
    std::uint64_t nextId_ = 1;
    std::map<std::uint64_t, Waiting> waiting_;
};

} // namespace zt::bluez
