#pragma once

#include "backends/bluez/BluezDBusTypes.h"

#include <QObject>

namespace zt::bluez {

// The interfaces of an exported object with their current properties, read
// from the Q_PROPERTYs of its adaptors: each property is defined once, in
// its adaptor, and Properties and GetManagedObjects both answer from here.
InterfaceMap interfacesOf(const QObject& host);

} // namespace zt::bluez
