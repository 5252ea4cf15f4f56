#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusVariant>
#include <QVariantMap>

namespace zt::bluez {

class DBusObject;

// org.freedesktop.DBus.Properties of our own, read-only: Qt's built-in one
// would answer anybody, and only the daemon may read our objects.
class PropertiesAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.DBus.Properties")
public:
    explicit PropertiesAdaptor(DBusObject* host);

public Q_SLOTS:
    QDBusVariant Get(const QString& interface, const QString& name);
    QVariantMap GetAll(const QString& interface);
    void Set(const QString& interface, const QString& name, const QDBusVariant& value);
};

} // namespace zt::bluez
