#pragma once

#include <QDBusAbstractAdaptor>
#include <QString>
#include <QStringList>

namespace zt::bluez {

class DBusObject;
struct LEAdvertisement;

class LEAdvertisementAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.bluez.LEAdvertisement1")
    Q_PROPERTY(QString Type READ type)
    Q_PROPERTY(QStringList ServiceUUIDs READ serviceUUIDs)
    Q_PROPERTY(QString LocalName READ localName)
    Q_PROPERTY(bool Discoverable READ discoverable)
public:
    LEAdvertisementAdaptor(DBusObject* host, const LEAdvertisement& advertisement);

    QString type() const;
    QStringList serviceUUIDs() const;
    QString localName() const;
    bool discoverable() const;

public Q_SLOTS:
    Q_NOREPLY void Release();

private:
    const LEAdvertisement& advertisement_;
};

} // namespace zt::bluez
