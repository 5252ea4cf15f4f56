#pragma once

#include "backends/bluez/BluezDBusTypes.h"
#include "backends/bluez/GattCharacteristic.h"
#include "backends/bluez/GattService.h"
#include "link/platform/PeripheralManager.h"

#include <QDBusConnection>
#include <QString>

#include <memory>
#include <vector>

namespace zt::bluez {

class AttRequestRouter;
class CallerGate;
class DBusObject;

// One service description exported as a GATT application: an
// ObjectManager at `root`, the service below it and its characteristics
// below the service, each object also with Properties. Unexported again on
// destruction.
class GattApplication {
public:
    GattApplication(QDBusConnection bus, const QString& root, const ServiceDescription& description,
                    const CallerGate& gate, AttRequestRouter& router);
    ~GattApplication();
    GattApplication(const GattApplication&) = delete;
    GattApplication& operator=(const GattApplication&) = delete;

    // False when a path could not be taken on the bus; nothing is exported then.
    bool exported() const { return exported_; }
    const QString& root() const { return root_; }
    const ServiceDescription& description() const { return description_; }

    // Every object below the root with its interfaces, as the daemon reads it.
    ManagedObjects managedObjects() const;

private:
    struct Exported {
        QString path;
        std::unique_ptr<DBusObject> object;
    };

    DBusObject& addObject(const QString& path, const CallerGate& gate);

    QDBusConnection bus_;
    QString root_;
    ServiceDescription description_;
    GattService service_;
    std::vector<std::unique_ptr<GattCharacteristic>> characteristics_;
    std::vector<Exported> objects_; // the root first
    bool exported_ = false;
};

// The BlueZ flags for CharacteristicProperty bits; other bits have no
// counterpart here and are left out.
QStringList flagsFor(std::uint32_t properties);

} // namespace zt::bluez
