#pragma once

#include "backends/bluez/BluezDBusTypes.h"

#include <QDBusAbstractAdaptor>

#include <functional>

namespace zt::bluez {

class DBusObject;

// org.freedesktop.DBus.ObjectManager at the root of our GATT application;
// the daemon reads the whole tree through it while registering us.
class ObjectManagerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.DBus.ObjectManager")
public:
    ObjectManagerAdaptor(DBusObject* host, std::function<ManagedObjects()> objects);

public Q_SLOTS:
    zt::bluez::ManagedObjects GetManagedObjects();

private:
    std::function<ManagedObjects()> objects_;
};

} // namespace zt::bluez
