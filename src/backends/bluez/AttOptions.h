#pragma once

#include "link/platform/PeripheralManager.h"

#include <QVariantMap>

#include <cstddef>

namespace zt::bluez {

// The central named by the "device" option (its object path). Anything but
// an object path there, or no option at all, gives the central with an
// empty identifier: the request is still delivered, from "somebody".
Central centralFrom(const QVariantMap& options);

// The "offset" option; 0 when absent, negative or not an integer.
std::size_t offsetFrom(const QVariantMap& options);

} // namespace zt::bluez
