#include "fakebluez/FakeBluez.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QUuid>

#include <utility>

namespace zt::test {
namespace {

using InterfaceMap = QMap<QString, QVariantMap>;
using ObjectMap = QMap<QDBusObjectPath, InterfaceMap>;

const QString bluezService = QStringLiteral("org.bluez");
const QString adapterInterface = QStringLiteral("org.bluez.Adapter1");
const QString gattManagerInterface = QStringLiteral("org.bluez.GattManager1");
const QString advertisingManagerInterface = QStringLiteral("org.bluez.LEAdvertisingManager1");
const QString serviceInterface = QStringLiteral("org.bluez.GattService1");
const QString characteristicInterface = QStringLiteral("org.bluez.GattCharacteristic1");
const QString advertisementInterface = QStringLiteral("org.bluez.LEAdvertisement1");
const QString objectManagerInterface = QStringLiteral("org.freedesktop.DBus.ObjectManager");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

const QString errorFailed = QStringLiteral("org.bluez.Error.Failed");
const QString errorInvalidArguments = QStringLiteral("org.bluez.Error.InvalidArguments");
const QString errorAlreadyExists = QStringLiteral("org.bluez.Error.AlreadyExists");
const QString errorDoesNotExist = QStringLiteral("org.bluez.Error.DoesNotExist");
const QString errorUnknownMethod = QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod");
const QString errorUnknownProperty = QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty");

// The characteristic flags BlueZ 5.66 parses; any other fails a registration.
const QStringList knownFlags = {
    "broadcast", "read", "write-without-response", "write", "notify", "indicate", "authenticated-signed-writes",
    "extended-properties", "reliable-write", "writable-auxiliaries", "encrypt-read", "encrypt-write",
    "encrypt-notify", "encrypt-indicate", "encrypt-authenticated-read", "encrypt-authenticated-write",
    "encrypt-authenticated-notify", "encrypt-authenticated-indicate", "secure-read", "secure-write",
    "secure-notify", "secure-indicate", "authorize"};

// 16-, 32- or 128-bit, as BlueZ's string parser takes them.
bool isUuid(const QVariant& value)
{
    if (value.metaType().id() != QMetaType::QString)
        return false;
    const QString text = value.toString();
    if (text.size() == 36)
        return !QUuid::fromString(text).isNull();
    if (text.size() != 4 && text.size() != 8)
        return false;
    bool ok = false;
    text.toUInt(&ok, 16);
    return ok;
}

bool isStringList(const QVariant& value) { return value.metaType().id() == QMetaType::QStringList; }

bool isBelow(const QString& root, const QString& path)
{
    return path == root || path.startsWith(root == QLatin1String("/") ? root : root + QLatin1Char('/'));
}

} // namespace

class FakeBluez::Objects : public QDBusVirtualObject {
public:
    explicit Objects(FakeBluez& owner) : owner_(owner) {}
    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override { return owner_.handle(message); }
    QString introspect(const QString&) const override { return {}; }

private:
    FakeBluez& owner_;
};

const QString FakeBluez::adapterPath = QStringLiteral("/org/bluez/hci0");
const QString FakeBluez::devicePath = QStringLiteral("/org/bluez/hci0/dev_AA_BB_CC_DD_EE_FF");

FakeBluez::FakeBluez(QString busAddress, Options options)
    : address_(std::move(busAddress)), options_(options), connection_(QString()),
      objects_(std::make_unique<Objects>(*this))
{
    qDBusRegisterMetaType<InterfaceMap>();
    qDBusRegisterMetaType<ObjectMap>();
}

FakeBluez::~FakeBluez() { stop(); }

QString FakeBluez::uniqueName() const { return running_ ? connection_.baseService() : QString(); }

bool FakeBluez::start()
{
    if (running_)
        return true;
    static int connections = 0;
    connectionName_ = QStringLiteral("fake-bluez-%1").arg(++connections);
    connection_ = QDBusConnection::connectToBus(address_, connectionName_);
    adapter_ = options_.adapter;
    powered_ = options_.powered;
    advertisingManager_ = options_.advertisingManager;
    // The objects first: whoever sees the name appear reads them at once.
    if (!connection_.isConnected() ||
        !connection_.registerVirtualObject(QStringLiteral("/"), objects_.get(), QDBusConnection::SubPath) ||
        !connection_.registerService(bluezService)) {
        QDBusConnection::disconnectFromBus(connectionName_);
        connection_ = QDBusConnection(QString());
        return false;
    }
    running_ = true;
    return true;
}

void FakeBluez::stop()
{
    if (!running_)
        return;
    running_ = false;
    ++generation_;
    connection_.unregisterObject(QStringLiteral("/"), QDBusConnection::UnregisterTree);
    QDBusConnection::disconnectFromBus(connectionName_);
    connection_ = QDBusConnection(QString());
    applications_.clear();
    advertisements_.clear();
    registering_.clear();
}

bool FakeBluez::restart()
{
    stop();
    return start();
}

void FakeBluez::setPowered(bool powered)
{
    if (powered == powered_)
        return;
    powered_ = powered;
    if (running_ && adapter_)
        emitSignal(adapterPath, propertiesInterface, QStringLiteral("PropertiesChanged"),
                   {adapterInterface, QVariantMap{{QStringLiteral("Powered"), powered_}}, QStringList()});
}

void FakeBluez::addAdapter()
{
    if (adapter_)
        return;
    adapter_ = true;
    if (running_)
        emitSignal(QStringLiteral("/"), objectManagerInterface, QStringLiteral("InterfacesAdded"),
                   {QVariant::fromValue(QDBusObjectPath(adapterPath)), QVariant::fromValue(adapterInterfaces())});
}

void FakeBluez::removeAdapter()
{
    if (!adapter_)
        return;
    // Registrations live on the adapter and go with it.
    releaseAdvertisements();
    applications_.clear();
    const QStringList removed = adapterInterfaces().keys();
    adapter_ = false;
    if (running_)
        emitSignal(QStringLiteral("/"), objectManagerInterface, QStringLiteral("InterfacesRemoved"),
                   {QVariant::fromValue(QDBusObjectPath(adapterPath)), removed});
}

void FakeBluez::addAdvertisingManager()
{
    if (advertisingManager_)
        return;
    advertisingManager_ = true;
    if (running_ && adapter_)
        emitSignal(QStringLiteral("/"), objectManagerInterface, QStringLiteral("InterfacesAdded"),
                   {QVariant::fromValue(QDBusObjectPath(adapterPath)),
                    QVariant::fromValue(InterfaceMap{{advertisingManagerInterface, {}}})});
}

void FakeBluez::releaseAdvertisements()
{
    const QList<Advertisement> released = std::exchange(advertisements_, {});
    if (!running_)
        return;
    for (const Advertisement& advertisement : released)
        connection_.send(QDBusMessage::createMethodCall(advertisement.sender, advertisement.path,
                                                        advertisementInterface, QStringLiteral("Release")));
}

void FakeBluez::preregisterApplication(const QString& sender, const QString& root)
{
    applications_.append(Application{sender, root, {}, {}});
}

QVariantMap FakeBluez::adapterProperties() const
{
    return {{QStringLiteral("Address"), QStringLiteral("00:1A:7D:DA:71:13")},
            {QStringLiteral("AddressType"), QStringLiteral("public")},
            {QStringLiteral("Name"), QStringLiteral("fake")},
            {QStringLiteral("Powered"), powered_}};
}

QMap<QString, QVariantMap> FakeBluez::adapterInterfaces() const
{
    InterfaceMap interfaces{
        {adapterInterface, adapterProperties()}, {gattManagerInterface, {}}, {propertiesInterface, {}}};
    if (advertisingManager_)
        interfaces.insert(advertisingManagerInterface,
                          {{QStringLiteral("ActiveInstances"), QVariant::fromValue(quint8(advertisements_.size()))},
                           {QStringLiteral("SupportedInstances"), QVariant::fromValue(quint8(5))}});
    return interfaces;
}

QVariantMap FakeBluez::requestOptions(const QString& device, quint16 offset)
{
    QVariantMap options{{QStringLiteral("device"), QVariant::fromValue(QDBusObjectPath(device))},
                        {QStringLiteral("mtu"), QVariant::fromValue(quint16(517))},
                        {QStringLiteral("link"), QStringLiteral("LE")}};
    if (offset != 0)
        options.insert(QStringLiteral("offset"), QVariant::fromValue(offset));
    return options;
}

const FakeBluez::Characteristic* FakeBluez::firstCharacteristicWith(const QStringList& flags, QString* sender) const
{
    for (const Application& application : applications_) {
        for (const Characteristic& characteristic : application.characteristics) {
            for (const QString& flag : flags) {
                if (characteristic.flags.contains(flag)) {
                    *sender = application.sender;
                    return &characteristic;
                }
            }
        }
    }
    return nullptr;
}

bool FakeBluez::writeValue(const QByteArray& value, const QVariantMap& options)
{
    QString sender;
    const Characteristic* target =
        firstCharacteristicWith({QStringLiteral("write-without-response"), QStringLiteral("write")}, &sender);
    if (!running_ || !target)
        return false;
    // send() marks the call NO_REPLY_EXPECTED, as BlueZ does for writes without response.
    return connection_.send(QDBusMessage::createMethodCall(sender, target->path, characteristicInterface,
                                                           QStringLiteral("WriteValue"))
                            << value << options);
}

bool FakeBluez::readValue(const QVariantMap& options, std::function<void(const QDBusMessage&)> answered)
{
    QString sender;
    const Characteristic* target = firstCharacteristicWith({QStringLiteral("read")}, &sender);
    if (!running_ || !target)
        return false;
    whenAnswered(QDBusMessage::createMethodCall(sender, target->path, characteristicInterface,
                                                QStringLiteral("ReadValue"))
                     << options,
                 std::move(answered));
    return true;
}

void FakeBluez::whenAnswered(const QDBusMessage& call, std::function<void(const QDBusMessage&)> handle)
{
    auto* watcher = new QDBusPendingCallWatcher(connection_.asyncCall(call), this);
    const quint64 generation = generation_;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, generation, handle] {
        watcher->deleteLater();
        if (generation == generation_)
            handle(watcher->reply());
    });
}

bool FakeBluez::handle(const QDBusMessage& message)
{
    const QString path = message.path();
    const QString interface = message.interface();
    const QString member = message.member();

    if (path == QLatin1String("/") && interface == objectManagerInterface &&
        member == QLatin1String("GetManagedObjects")) {
        ObjectMap objects{{QDBusObjectPath(QStringLiteral("/org/bluez")),
                           {{QStringLiteral("org.bluez.AgentManager1"), {}},
                            {QStringLiteral("org.bluez.ProfileManager1"), {}}}}};
        if (adapter_)
            objects.insert(QDBusObjectPath(adapterPath), adapterInterfaces());
        answer(message, message.createReply(QVariant::fromValue(objects)));
        return true;
    }
    if (adapter_ && path == adapterPath) {
        if (interface == propertiesInterface) {
            handleProperties(message);
            return true;
        }
        if (interface == gattManagerInterface && member == QLatin1String("RegisterApplication")) {
            registerApplication(message);
            return true;
        }
        if (interface == gattManagerInterface && member == QLatin1String("UnregisterApplication")) {
            unregisterApplication(message);
            return true;
        }
        if (advertisingManager_ && interface == advertisingManagerInterface &&
            member == QLatin1String("RegisterAdvertisement")) {
            registerAdvertisement(message);
            return true;
        }
        if (advertisingManager_ && interface == advertisingManagerInterface &&
            member == QLatin1String("UnregisterAdvertisement")) {
            unregisterAdvertisement(message);
            return true;
        }
    }
    answer(message, message.createErrorReply(errorUnknownMethod, member));
    return true;
}

void FakeBluez::handleProperties(const QDBusMessage& message)
{
    const QList<QVariant> arguments = message.arguments();
    const QString member = message.member();
    const QString interface = arguments.value(0).toString();
    if (member == QLatin1String("GetAll") && message.signature() == QLatin1String("s")) {
        answer(message, message.createReply(interface == adapterInterface ? adapterProperties() : QVariantMap()));
    } else if (member == QLatin1String("Get") && message.signature() == QLatin1String("ss")) {
        const QVariantMap properties = interface == adapterInterface ? adapterProperties() : QVariantMap();
        const QString name = arguments.at(1).toString();
        if (properties.contains(name))
            answer(message, message.createReply(QVariant::fromValue(QDBusVariant(properties.value(name)))));
        else
            answer(message, message.createErrorReply(errorUnknownProperty, name));
    } else if (member == QLatin1String("Set") && message.signature() == QLatin1String("ssv") &&
               interface == adapterInterface && arguments.at(1).toString() == QLatin1String("Powered") &&
               arguments.at(2).value<QDBusVariant>().variant().metaType().id() == QMetaType::Bool) {
        setPowered(arguments.at(2).value<QDBusVariant>().variant().toBool());
        answer(message, message.createReply());
    } else {
        answer(message, message.createErrorReply(errorInvalidArguments, member));
    }
}

bool FakeBluez::isRegistering(const QString& sender, const QString& path) const
{
    return registering_.contains(qMakePair(sender, path));
}

void FakeBluez::registerApplication(const QDBusMessage& message)
{
    ++registerApplicationCalls_;
    if (message.signature() != QLatin1String("oa{sv}")) {
        refuse(message, errorInvalidArguments, QStringLiteral("Invalid arguments"));
        return;
    }
    const QString sender = message.service();
    const QString root = message.arguments().at(0).value<QDBusObjectPath>().path();
    for (const Application& application : applications_) {
        if (application.sender == sender && application.root == root) {
            refuse(message, errorAlreadyExists, QStringLiteral("Already Exists"));
            return;
        }
    }
    if (isRegistering(sender, root)) {
        refuse(message, errorAlreadyExists, QStringLiteral("Already Exists"));
        return;
    }
    registering_.append(qMakePair(sender, root));
    whenAnswered(QDBusMessage::createMethodCall(sender, root, objectManagerInterface,
                                                QStringLiteral("GetManagedObjects")),
                 [this, message, root](const QDBusMessage& objects) { finishApplication(message, root, objects); });
}

void FakeBluez::finishApplication(const QDBusMessage& call, const QString& root, const QDBusMessage& reply)
{
    registering_.removeAll(qMakePair(call.service(), root));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String("a{oa{sa{sv}}}")) {
        refuse(call, errorFailed, QStringLiteral("No object received"));
        return;
    }
    const ObjectMap objects = qdbus_cast<ObjectMap>(reply.arguments().at(0));
    Application application{call.service(), root, {}, {}};
    for (auto it = objects.cbegin(); it != objects.cend(); ++it) {
        const QString path = it.key().path();
        // BlueZ only follows objects in the application's namespace.
        if (!isBelow(root, path))
            continue;
        if (const auto found = it->constFind(serviceInterface); found != it->cend()) {
            const QVariant uuid = found->value(QStringLiteral("UUID"));
            const QVariant primary = found->value(QStringLiteral("Primary"));
            if (!isUuid(uuid) || primary.metaType().id() != QMetaType::Bool) {
                refuse(call, errorFailed, QStringLiteral("Invalid service object ") + path);
                return;
            }
            application.services.append(Service{path, uuid.toString(), primary.toBool()});
        }
        if (const auto found = it->constFind(characteristicInterface); found != it->cend()) {
            const QVariant uuid = found->value(QStringLiteral("UUID"));
            const QVariant service = found->value(QStringLiteral("Service"));
            const QVariant flags = found->value(QStringLiteral("Flags"));
            if (!isUuid(uuid) || service.metaType() != QMetaType::fromType<QDBusObjectPath>() ||
                !isStringList(flags)) {
                refuse(call, errorFailed, QStringLiteral("Invalid characteristic object ") + path);
                return;
            }
            for (const QString& flag : flags.toStringList()) {
                if (!knownFlags.contains(flag)) {
                    refuse(call, errorFailed, QStringLiteral("Unknown flag ") + flag);
                    return;
                }
            }
            application.characteristics.append(
                Characteristic{path, uuid.toString(), service.value<QDBusObjectPath>().path(), flags.toStringList()});
        }
    }
    if (application.services.isEmpty()) {
        refuse(call, errorFailed, QStringLiteral("No valid service object found"));
        return;
    }
    for (const Characteristic& characteristic : application.characteristics) {
        bool known = false;
        for (const Service& service : application.services)
            known = known || service.path == characteristic.service;
        if (!known) {
            refuse(call, errorFailed, QStringLiteral("No service object for ") + characteristic.path);
            return;
        }
    }
    applications_.append(application);
    answer(call, call.createReply());
    Q_EMIT applicationRegistered(application);
}

void FakeBluez::unregisterApplication(const QDBusMessage& message)
{
    const QString root = message.arguments().value(0).value<QDBusObjectPath>().path();
    for (qsizetype i = 0; i < applications_.size(); ++i) {
        if (applications_[i].sender == message.service() && applications_[i].root == root) {
            applications_.removeAt(i);
            answer(message, message.createReply());
            return;
        }
    }
    answer(message, message.createErrorReply(errorDoesNotExist, QStringLiteral("Does Not Exist")));
}

void FakeBluez::registerAdvertisement(const QDBusMessage& message)
{
    ++registerAdvertisementCalls_;
    if (message.signature() != QLatin1String("oa{sv}")) {
        refuse(message, errorInvalidArguments, QStringLiteral("Invalid arguments"));
        return;
    }
    const QString sender = message.service();
    const QString path = message.arguments().at(0).value<QDBusObjectPath>().path();
    for (const Advertisement& advertisement : advertisements_) {
        if (advertisement.sender == sender && advertisement.path == path) {
            refuse(message, errorAlreadyExists, QStringLiteral("Already Exists"));
            return;
        }
    }
    if (isRegistering(sender, path)) {
        refuse(message, errorAlreadyExists, QStringLiteral("Already Exists"));
        return;
    }
    registering_.append(qMakePair(sender, path));
    whenAnswered(QDBusMessage::createMethodCall(sender, path, propertiesInterface, QStringLiteral("GetAll"))
                     << advertisementInterface,
                 [this, message, path](const QDBusMessage& properties) {
                     finishAdvertisement(message, path, properties);
                 });
}

void FakeBluez::finishAdvertisement(const QDBusMessage& call, const QString& path, const QDBusMessage& reply)
{
    registering_.removeAll(qMakePair(call.service(), path));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String("a{sv}")) {
        refuse(call, errorFailed, QStringLiteral("Failed to read advertisement"));
        return;
    }
    const QVariantMap properties = qdbus_cast<QVariantMap>(reply.arguments().at(0));
    Advertisement advertisement{call.service(), path, QStringLiteral("broadcast"), {}, {}};
    if (properties.contains(QStringLiteral("Type"))) {
        const QVariant type = properties.value(QStringLiteral("Type"));
        if (type.metaType().id() != QMetaType::QString ||
            (type.toString() != QLatin1String("broadcast") && type.toString() != QLatin1String("peripheral"))) {
            refuse(call, errorInvalidArguments, QStringLiteral("Failed to parse advertisement (Type)"));
            return;
        }
        advertisement.type = type.toString();
    }
    if (properties.contains(QStringLiteral("ServiceUUIDs"))) {
        const QVariant uuids = properties.value(QStringLiteral("ServiceUUIDs"));
        if (!isStringList(uuids)) {
            refuse(call, errorInvalidArguments, QStringLiteral("Failed to parse advertisement (ServiceUUIDs)"));
            return;
        }
        for (const QString& uuid : uuids.toStringList()) {
            if (!isUuid(uuid)) {
                refuse(call, errorInvalidArguments, QStringLiteral("Failed to parse advertisement (ServiceUUIDs)"));
                return;
            }
        }
        advertisement.serviceUUIDs = uuids.toStringList();
    }
    if (properties.contains(QStringLiteral("LocalName"))) {
        const QVariant name = properties.value(QStringLiteral("LocalName"));
        if (name.metaType().id() != QMetaType::QString) {
            refuse(call, errorInvalidArguments, QStringLiteral("Failed to parse advertisement (LocalName)"));
            return;
        }
        advertisement.localName = name.toString();
    }
    advertisements_.append(advertisement);
    answer(call, call.createReply());
    Q_EMIT advertisementRegistered(advertisement);
}

void FakeBluez::unregisterAdvertisement(const QDBusMessage& message)
{
    const QString path = message.arguments().value(0).value<QDBusObjectPath>().path();
    for (qsizetype i = 0; i < advertisements_.size(); ++i) {
        if (advertisements_[i].sender == message.service() && advertisements_[i].path == path) {
            advertisements_.removeAt(i);
            answer(message, message.createReply());
            return;
        }
    }
    answer(message, message.createErrorReply(errorDoesNotExist, QStringLiteral("Does Not Exist")));
}

void FakeBluez::answer(const QDBusMessage& call, const QDBusMessage& reply)
{
    if (running_ && call.isReplyRequired())
        connection_.send(reply);
}

void FakeBluez::refuse(const QDBusMessage& call, const QString& errorName, const QString& text)
{
    rejections_.append(errorName);
    answer(call, call.createErrorReply(errorName, text));
    Q_EMIT rejected(call.member(), errorName, text);
}

void FakeBluez::emitSignal(const QString& path, const QString& interface, const QString& name,
                           const QList<QVariant>& arguments)
{
    QDBusMessage signal = QDBusMessage::createSignal(path, interface, name);
    signal.setArguments(arguments);
    connection_.send(signal);
}

} // namespace zt::test
