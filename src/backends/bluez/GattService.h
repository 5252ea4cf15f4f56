#pragma once

#include <QString>

namespace zt::bluez {

// What org.bluez.GattService1 publishes for one service.
struct GattService {
    QString uuid; // lowercase, as BlueZ expects
    bool primary = true;
};

} // namespace zt::bluez
