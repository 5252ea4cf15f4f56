#pragma once

#include "link/platform/PeripheralManager.h"

#include <QDBusObjectPath>
#include <QStringList>

#include <optional>

namespace zt::bluez {

// One characteristic of our application: what org.bluez.GattCharacteristic1
// publishes, and what a request for it carries to the delegate.
struct GattCharacteristic {
    Uuid uuid;
    QDBusObjectPath service;
    QStringList flags;
    std::optional<Bytes> value; // fixed value: reads are answered without the delegate
};

} // namespace zt::bluez
