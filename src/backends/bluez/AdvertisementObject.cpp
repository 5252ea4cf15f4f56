#include "backends/bluez/AdvertisementObject.h"

#include "backends/bluez/DBusObject.h"
#include "backends/bluez/LEAdvertisementAdaptor.h"
#include "backends/bluez/PropertiesAdaptor.h"

#include <QtDebug>

#include <utility>

namespace zt::bluez {

AdvertisementObject::AdvertisementObject(QDBusConnection bus, const QString& path, const AdvertisementData& data,
                                         const CallerGate& gate, std::function<void()> released)
    : bus_(std::move(bus)), path_(path), data_(data), object_(std::make_unique<DBusObject>(gate))
{
    advertisement_.localName = QString::fromStdString(data.localName);
    for (const Uuid& uuid : data.serviceUUIDs)
        advertisement_.serviceUUIDs << QString::fromStdString(uuid.toString()).toLower();
    advertisement_.released = std::move(released);

    new LEAdvertisementAdaptor(object_.get(), advertisement_);
    new PropertiesAdaptor(object_.get());
    exported_ = bus_.registerObject(path_, object_.get(), QDBusConnection::ExportAdaptors);
    if (!exported_)
        qWarning("Bluetooth: cannot export %s", qPrintable(path_));
}

AdvertisementObject::~AdvertisementObject()
{
    if (exported_)
        bus_.unregisterObject(path_);
}

} // namespace zt::bluez
