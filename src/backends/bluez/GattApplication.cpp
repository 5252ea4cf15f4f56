#include "backends/bluez/GattApplication.h"

#include "backends/bluez/AdaptorProperties.h"
#include "backends/bluez/DBusObject.h"
#include "backends/bluez/GattCharacteristicAdaptor.h"
#include "backends/bluez/GattServiceAdaptor.h"
#include "backends/bluez/ObjectManagerAdaptor.h"
#include "backends/bluez/PropertiesAdaptor.h"

#include <QtDebug>

#include <utility>

namespace zt::bluez {

QStringList flagsFor(std::uint32_t properties)
{
    QStringList flags;
    if (properties & propertyRead)
        flags << QStringLiteral("read");
    if (properties & propertyWriteWithoutResponse)
        flags << QStringLiteral("write-without-response");
    if (properties & ~std::uint32_t{propertyRead | propertyWriteWithoutResponse})
        qWarning("Bluetooth: characteristic properties 0x%x not supported, left out", properties);
    return flags;
}

namespace {

QString lowercase(const Uuid& uuid) { return QString::fromStdString(uuid.toString()).toLower(); }

} // namespace

GattApplication::GattApplication(QDBusConnection bus, const QString& root, const ServiceDescription& description,
                                 const CallerGate& gate, AttRequestRouter& router)
    : bus_(std::move(bus)), root_(root), description_(description),
      service_{lowercase(description.uuid), description.primary}
{
    DBusObject& rootObject = addObject(root_, gate);
    new ObjectManagerAdaptor(&rootObject, [this] { return managedObjects(); });
    new PropertiesAdaptor(&rootObject);

    const QString servicePath = root_ + QStringLiteral("/service0");
    DBusObject& serviceObject = addObject(servicePath, gate);
    new GattServiceAdaptor(&serviceObject, service_);
    new PropertiesAdaptor(&serviceObject);

    for (std::size_t i = 0; i < description_.characteristics.size(); ++i) {
        const CharacteristicDescription& source = description_.characteristics[i];
        characteristics_.push_back(std::make_unique<GattCharacteristic>(GattCharacteristic{
            source.uuid, QDBusObjectPath(servicePath), flagsFor(source.properties), source.value}));
        DBusObject& object = addObject(servicePath + QStringLiteral("/char%1").arg(i), gate);
        new GattCharacteristicAdaptor(&object, *characteristics_.back(), router);
        new PropertiesAdaptor(&object);
    }

    // All or nothing: the daemon must never read half a tree.
    exported_ = true;
    for (const Exported& entry : objects_) {
        if (!bus_.registerObject(entry.path, entry.object.get(), QDBusConnection::ExportAdaptors)) {
            qWarning("Bluetooth: cannot export %s", qPrintable(entry.path));
            exported_ = false;
            break;
        }
    }
    if (!exported_) {
        for (const Exported& entry : objects_)
            if (bus_.objectRegisteredAt(entry.path) == entry.object.get())
                bus_.unregisterObject(entry.path);
    }
}

GattApplication::~GattApplication()
{
    if (!exported_)
        return;
    for (const Exported& entry : objects_)
        bus_.unregisterObject(entry.path);
}

DBusObject& GattApplication::addObject(const QString& path, const CallerGate& gate)
{
    objects_.push_back(Exported{path, std::make_unique<DBusObject>(gate)});
    return *objects_.back().object;
}

ManagedObjects GattApplication::managedObjects() const
{
    ManagedObjects objects;
    for (std::size_t i = 1; i < objects_.size(); ++i)
        objects.insert(QDBusObjectPath(objects_[i].path), interfacesOf(*objects_[i].object));
    return objects;
}

} // namespace zt::bluez
