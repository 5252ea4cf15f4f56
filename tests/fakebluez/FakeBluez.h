#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>

namespace zt::test {

struct FakeBluezOptions {
    bool adapter = true;
    bool powered = true;
    // False: LEAdvertisingManager1 shows up only on addAdvertisingManager().
    bool advertisingManager = true;
};

// A stand-in for the Bluetooth daemon, for tests, on a bus of their own.
//
// While started it owns org.bluez (on a connection of its own, so every
// start shows a new unique name, as a restarted daemon does), with an
// ObjectManager at "/" and the adapter /org/bluez/hci0 carrying
// org.bluez.Adapter1 (Powered, also settable through Properties.Set),
// org.bluez.GattManager1 and org.bluez.LEAdvertisingManager1.
//
// It registers applications and advertisements the way BlueZ 5.66 does:
// RegisterApplication reads the caller's GetManagedObjects before it
// answers and refuses a tree without a valid service (UUID, Primary), with
// a characteristic whose Service is not in the same answer, or with an
// unknown flag (org.bluez.Error.Failed); RegisterAdvertisement reads the
// advertisement's properties with GetAll and checks Type, ServiceUUIDs and
// LocalName (org.bluez.Error.InvalidArguments). A second registration of
// the same sender and path answers org.bluez.Error.AlreadyExists. Power
// off and on keeps registrations; stop() and restart() lose them.
//
// It also plays the watch: writeValue() calls WriteValue without expecting
// a reply, as BlueZ does for "write-without-response"; readValue() calls
// ReadValue and hands over the answer.
class FakeBluez : public QObject {
    Q_OBJECT
public:
    using Options = FakeBluezOptions;
    struct Service {
        QString path;
        QString uuid;
        bool primary = false;
    };
    struct Characteristic {
        QString path;
        QString uuid;
        QString service;
        QStringList flags;
    };
    struct Application {
        QString sender;
        QString root;
        QList<Service> services;
        QList<Characteristic> characteristics;
    };
    struct Advertisement {
        QString sender;
        QString path;
        QString type;
        QString localName;
        QStringList serviceUUIDs;
    };

    static const QString adapterPath;
    static const QString devicePath;

    explicit FakeBluez(QString busAddress, Options options = Options());
    ~FakeBluez() override;

    // Connects and takes org.bluez; false if the bus or the name is not to be had.
    bool start();
    // Leaves the bus, as a daemon that exits: the name and every registration go.
    void stop();
    bool restart();
    bool running() const { return running_; }
    QString uniqueName() const;
    // The daemon's own connection, for calls a test makes in its name.
    QDBusConnection connection() const { return connection_; }

    void setPowered(bool powered);
    bool powered() const { return powered_; }
    void addAdapter();
    void removeAdapter();
    void addAdvertisingManager();
    // Gives up every advertisement and calls its Release(), as BlueZ does
    // when it drops one.
    void releaseAdvertisements();
    // Holds a registration of `root` by `sender` already, as after one its
    // owner lost track of.
    void preregisterApplication(const QString& sender, const QString& root);

    const QList<Application>& applications() const { return applications_; }
    const QList<Advertisement>& advertisements() const { return advertisements_; }
    int registerApplicationCalls() const { return registerApplicationCalls_; }
    int registerAdvertisementCalls() const { return registerAdvertisementCalls_; }
    // Error names of refused registrations, in order.
    const QStringList& rejections() const { return rejections_; }

    // The options BlueZ passes to a local characteristic's ReadValue and
    // WriteValue: "device", "mtu", "link", and "offset" when not zero.
    static QVariantMap requestOptions(const QString& device = devicePath, quint16 offset = 0);
    // To the first registered characteristic that can be written / read;
    // false when there is none.
    bool writeValue(const QByteArray& value, const QVariantMap& options);
    bool readValue(const QVariantMap& options, std::function<void(const QDBusMessage&)> answered);

Q_SIGNALS:
    void applicationRegistered(const zt::test::FakeBluez::Application& application);
    void advertisementRegistered(const zt::test::FakeBluez::Advertisement& advertisement);
    void rejected(const QString& method, const QString& errorName, const QString& message);

private:
    class Objects;
    friend class Objects;

    bool handle(const QDBusMessage& message);
    void handleProperties(const QDBusMessage& message);
    void registerApplication(const QDBusMessage& message);
    void finishApplication(const QDBusMessage& call, const QString& root, const QDBusMessage& objects);
    void unregisterApplication(const QDBusMessage& message);
    void registerAdvertisement(const QDBusMessage& message);
    void finishAdvertisement(const QDBusMessage& call, const QString& path, const QDBusMessage& properties);
    void unregisterAdvertisement(const QDBusMessage& message);

    void answer(const QDBusMessage& call, const QDBusMessage& reply);
    void refuse(const QDBusMessage& call, const QString& errorName, const QString& text);
    void emitSignal(const QString& path, const QString& interface, const QString& name,
                    const QList<QVariant>& arguments);
    QVariantMap adapterProperties() const;
    QMap<QString, QVariantMap> adapterInterfaces() const;
    bool isRegistering(const QString& sender, const QString& path) const;
    const Characteristic* firstCharacteristicWith(const QStringList& flags, QString* sender) const;
    void whenAnswered(const QDBusMessage& call, std::function<void(const QDBusMessage&)> handle);

    QString address_;
    Options options_;
    QString connectionName_;
    QDBusConnection connection_;
    std::unique_ptr<Objects> objects_;
    bool running_ = false;
    bool adapter_ = false;
    bool powered_ = false;
    bool advertisingManager_ = false;
    // Bumped by stop(): answers meant for an earlier run are dropped.
    quint64 generation_ = 0;

    QList<Application> applications_;
    QList<Advertisement> advertisements_;
    QList<QPair<QString, QString>> registering_; // sender, path
    int registerApplicationCalls_ = 0;
    int registerAdvertisementCalls_ = 0;
    QStringList rejections_;
};

} // namespace zt::test
