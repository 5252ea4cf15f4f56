#include "backends/bluez/BluezDBusTypes.h"

#include <QDBusMetaType>

namespace zt::bluez {

void registerDBusTypes()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<InterfaceMap>();
        qDBusRegisterMetaType<ManagedObjects>();
        return true;
    }();
    (void)registered;
}

} // namespace zt::bluez
