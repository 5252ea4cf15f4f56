#pragma once

#include "backends/bluez/BluezDBusTypes.h"
#include "link/platform/PeripheralManager.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QMap>
#include <QObject>
#include <QString>

#include <optional>

class QDBusMessage;

namespace zt::bluez {

// Follows the Bluetooth daemon on the bus: who owns org.bluez, and the
// adapters and manager interfaces below its ObjectManager at "/". Emits
// changed() after every update it took in.
class AdapterWatcher : public QObject {
    Q_OBJECT
public:
    struct Adapter {
        QString path;
        bool powered = false;
        bool gattManager = false;
        bool advertisingManager = false;
    };

    explicit AdapterWatcher(QDBusConnection bus);

    // The unique name of the daemon; empty while there is none, or while
    // that is not known yet.
    const QString& owner() const { return owner_; }

    // The adapter we use (the first by object path), if there is one.
    std::optional<Adapter> adapter() const;

    // Nothing until the first look-ups are answered.
    std::optional<ManagerState> state() const;

Q_SIGNALS:
    void changed();

private Q_SLOTS:
    void onOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);
    void onInterfacesAdded(const QDBusMessage& message);
    void onInterfacesRemoved(const QDBusMessage& message);
    void onPropertiesChanged(const QDBusMessage& message);

private:
    struct Interfaces {
        bool adapter = false;
        bool powered = false;
        bool gattManager = false;
        bool advertisingManager = false;
        bool empty() const { return !adapter && !gattManager && !advertisingManager; }
    };

    void lookUpOwner();
    void setOwner(const QString& owner);
    void fetchObjects();
    void addInterfaces(const QString& path, const InterfaceMap& interfaces);
    bool fromOwner(const QDBusMessage& message) const;

    QDBusConnection bus_;
    QDBusServiceWatcher serviceWatcher_;
    bool ownerKnown_ = false;
    bool objectsKnown_ = false;
    QString owner_;
    QMap<QString, Interfaces> objects_;
    // Bumped on every change of owner: answers to older look-ups are dropped.
    quint64 generation_ = 0;
};

} // namespace zt::bluez
