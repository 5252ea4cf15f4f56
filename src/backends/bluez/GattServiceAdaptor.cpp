#include "backends/bluez/GattServiceAdaptor.h"

#include "backends/bluez/DBusObject.h"
#include "backends/bluez/GattService.h"

namespace zt::bluez {

GattServiceAdaptor::GattServiceAdaptor(DBusObject* host, const GattService& service)
    : QDBusAbstractAdaptor(host), service_(service)
{
}

QString GattServiceAdaptor::uuid() const { return service_.uuid; }

bool GattServiceAdaptor::primary() const { return service_.primary; }

} // namespace zt::bluez
