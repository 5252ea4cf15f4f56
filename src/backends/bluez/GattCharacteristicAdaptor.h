#pragma once

#include <QByteArray>
#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QStringList>
#include <QVariantMap>

namespace zt::bluez {

class AttRequestRouter;
class DBusObject;
struct GattCharacteristic;

class GattCharacteristicAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.bluez.GattCharacteristic1")
    Q_PROPERTY(QString UUID READ uuid)
    Q_PROPERTY(QDBusObjectPath Service READ service)
    Q_PROPERTY(QStringList Flags READ flags)
public:
    GattCharacteristicAdaptor(DBusObject* host, const GattCharacteristic& characteristic, AttRequestRouter& router);

    QString uuid() const;
    QDBusObjectPath service() const;
    QStringList flags() const;

public Q_SLOTS:
    QByteArray ReadValue(const QVariantMap& options);
    void WriteValue(const QByteArray& value, const QVariantMap& options);

private:
    const GattCharacteristic& characteristic_;
    AttRequestRouter& router_;
};

} // namespace zt::bluez
