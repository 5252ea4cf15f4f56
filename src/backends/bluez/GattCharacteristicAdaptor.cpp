#include "backends/bluez/GattCharacteristicAdaptor.h"

#include "backends/bluez/AttRequestRouter.h"
#include "backends/bluez/DBusObject.h"
#include "backends/bluez/GattCharacteristic.h"

namespace zt::bluez {

GattCharacteristicAdaptor::GattCharacteristicAdaptor(DBusObject* host, const GattCharacteristic& characteristic,
                                                     AttRequestRouter& router)
    : QDBusAbstractAdaptor(host), characteristic_(characteristic), router_(router)
{
}

QString GattCharacteristicAdaptor::uuid() const
{
    return QString::fromStdString(characteristic_.uuid.toString()).toLower();
}

QDBusObjectPath GattCharacteristicAdaptor::service() const { return characteristic_.service; }

QStringList GattCharacteristicAdaptor::flags() const { return characteristic_.flags; }

QByteArray GattCharacteristicAdaptor::ReadValue(const QVariantMap& options)
{
    DBusObject& host = hostOf(*this);
    if (!host.admitCaller())
        return {};
    return router_.read(characteristic_, options, host);
}

void GattCharacteristicAdaptor::WriteValue(const QByteArray& value, const QVariantMap& options)
{
    DBusObject& host = hostOf(*this);
    if (!host.admitCaller())
        return;
    router_.write(characteristic_, value, options, host);
}

} // namespace zt::bluez
