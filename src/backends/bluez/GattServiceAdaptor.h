#pragma once

#include <QDBusAbstractAdaptor>
#include <QString>

namespace zt::bluez {

class DBusObject;
struct GattService;

class GattServiceAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.bluez.GattService1")
    Q_PROPERTY(QString UUID READ uuid)
    Q_PROPERTY(bool Primary READ primary)
public:
    GattServiceAdaptor(DBusObject* host, const GattService& service);

    QString uuid() const;
    bool primary() const;

private:
    const GattService& service_;
};

} // namespace zt::bluez
