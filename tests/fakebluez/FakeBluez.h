#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace zt::test {

struct FakeBluezOptions {
    bool adapter = true;
    bool powered = true;
    // False: LEAdvertisingManager1 shows up only on addAdvertisingManager().
    bool advertisingManager = true;
};

// A stand-in for the Bluetooth daemon on a test's own bus: org.bluez on a
// connection of its own (a new unique name per start, as a restarted daemon
// shows), an ObjectManager at "/" and one adapter, /org/bluez/hci0 unless
// another is added.
// Registrations are checked as BlueZ 5.66 checks them, by reading the
// caller's objects before answering; they survive a power cycle and go with
// the adapter, the daemon or the client leaving the bus. It also plays the
// watch: writeValue() expects no reply, as for "write-without-response".
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
        QString adapter;
    };
    struct Advertisement {
        QString sender;
        QString path;
        QString type;
        QString localName;
        QStringList serviceUUIDs;
        QString adapter;
        std::optional<bool> discoverable; // absent when not exported
    };
    // What the daemon does with one registration call: answer it as usual,
    // never answer it (and register nothing), answer org.bluez.Error.Failed
    // or org.bluez.Error.InvalidArguments at once, or register and answer
    // only `lateBy` after the objects were read.
    enum class Fault { none, swallow, fail, refuse, late };

    static const QString devicePath;

    explicit FakeBluez(QString busAddress, Options options = Options());
    ~FakeBluez() override;

    bool start();
    void stop();
    bool restart() { stop(); return start(); }
    QString uniqueName() const { return running_ ? connection_.baseService() : QString(); }
    QDBusConnection connection() const { return connection_; }

    void setPowered(bool powered);
    bool powered() const { return state_.powered; }
    const QString& adapterPath() const { return adapterPath_; }
    // At `path`, or where the last one was; powered and with an advertising
    // manager as last set.
    void addAdapter(const QString& path = {});
    void removeAdapter();
    void addAdvertisingManager();
    void removeAdvertisingManager();
    // For the next call of `method` ("RegisterApplication" or
    // "RegisterAdvertisement") not yet given a fault.
    void injectFault(const QString& method, Fault fault, std::chrono::milliseconds lateBy = {});
    void releaseAdvertisements();
    // A registration its owner lost track of.
    void preregisterApplication(const QString& sender, const QString& root);

    const QList<Application>& applications() const { return applications_; }
    const QList<Advertisement>& advertisements() const { return advertisements_; }
    int registerApplicationCalls() const { return registerApplicationCalls_; }
    int registerAdvertisementCalls() const { return registerAdvertisementCalls_; }
    const QStringList& rejections() const { return rejections_; }

    // BlueZ's options to ReadValue and WriteValue: "device", "mtu", "link",
    // and "offset" when not zero.
    static QVariantMap requestOptions(const QString& device = devicePath, quint16 offset = 0);
    // To the first registered characteristic that can be written / read;
    // false when there is none.
    bool writeValue(const QByteArray& value, const QVariantMap& options);
    // `count` writeValue() calls of `value`, as BlueZ relays a central that
    // writes without response: as fast as the bus takes them when
    // `perSecond` is 0, else evenly spaced at that rate. Each batch waits
    // until the bus has routed the one before, so neither this process nor
    // the bus piles them up. `done` gets the number handed to the bus; false
    // when there is nothing to write to.
    bool flood(int count, const QByteArray& value, const QVariantMap& options, double perSecond,
               std::function<void(int)> done);
    bool readValue(const QVariantMap& options, std::function<void(const QDBusMessage&)> answered);

Q_SIGNALS:
    void applicationRegistered(const zt::test::FakeBluez::Application& application);
    void advertisementRegistered(const zt::test::FakeBluez::Advertisement& advertisement);
    void rejected(const QString& method, const QString& errorName, const QString& message);

private:
    struct Objects;

    bool handle(const QDBusMessage& message);
    void registerObject(const QDBusMessage& message, bool application);
    void unregisterObject(const QDBusMessage& message, bool application);
    void finishApplication(const QDBusMessage& call, const QString& root, const QDBusMessage& objects);
    void finishAdvertisement(const QDBusMessage& call, const QString& path, const QDBusMessage& properties);
    // Everything a client registered goes when it leaves the bus.
    void watch(const QString& sender);
    void forget(const QString& sender);

    void answer(const QDBusMessage& call, const QDBusMessage& reply);
    void refuse(const QDBusMessage& call, const QString& errorName, const QString& text);
    void emitSignal(const QString& path, const QString& interface, const QString& name,
                    const QList<QVariant>& arguments);
    QMap<QString, QVariantMap> adapterInterfaces() const;
    QDBusMessage characteristicCall(const QStringList& flags, const QString& member,
                                    const QList<QVariant>& arguments) const;
    void whenAnswered(const QDBusMessage& call, std::function<void(const QDBusMessage&)> handle);
    struct Flood;
    void pump(const std::shared_ptr<Flood>& flood);

    QString address_;
    Options options_;
    QDBusConnection connection_;
    std::unique_ptr<Objects> objects_;
    QDBusServiceWatcher clients_;
    bool running_ = false;
    Options state_;
    QString adapterPath_ = QStringLiteral("/org/bluez/hci0");
    struct InjectedFault {
        Fault fault = Fault::none;
        std::chrono::milliseconds lateBy{};
    };
    QMap<QString, QList<InjectedFault>> faults_; // by method, in order
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
