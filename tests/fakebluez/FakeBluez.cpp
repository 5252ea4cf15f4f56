#include "fakebluez/FakeBluez.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <cmath>
#include <utility>

namespace zt::test {
namespace {

using InterfaceMap = QMap<QString, QVariantMap>;
using ObjectMap = QMap<QDBusObjectPath, InterfaceMap>;

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

// The characteristic flags BlueZ 5.66 parses; any other fails a registration.
const QStringList knownFlags = {"broadcast", "read", "write-without-response", "write", "notify", "indicate",
                                "authenticated-signed-writes", "extended-properties", "reliable-write",
                                "writable-auxiliaries", "encrypt-read", "encrypt-write", "encrypt-notify",
                                "encrypt-indicate", "encrypt-authenticated-read", "encrypt-authenticated-write",
                                "encrypt-authenticated-notify", "encrypt-authenticated-indicate", "secure-read",
                                "secure-write", "secure-notify", "secure-indicate", "authorize"};

bool isString(const QVariant& value) { return value.metaType().id() == QMetaType::QString; }
bool isStringList(const QVariant& value) { return value.metaType().id() == QMetaType::QStringList; }

// 16-, 32- or 128-bit, as BlueZ's string parser takes them.
bool isUuid(const QVariant& value)
{
    const QString text = value.toString();
    bool ok = false;
    if (isString(value) && (text.size() == 4 || text.size() == 8))
        text.toUInt(&ok, 16);
    return ok || (isString(value) && text.size() == 36 && !QUuid::fromString(text).isNull());
}

// Matches the registration of `sender` at `at`.
template <typename T>
auto heldBy(QString T::*path, const QString& sender, const QString& at)
{
    return [=](const T& item) { return item.sender == sender && item.*path == at; };
}

} // namespace

struct FakeBluez::Objects : QDBusVirtualObject {
    explicit Objects(FakeBluez& owner) : owner(owner) {}
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        // A call an earlier run received but had not handled before it
        // stopped went to a daemon that is gone: it must not reach this one.
        return connection.name() != owner.connection_.name() || owner.handle(message);
    }
    QString introspect(const QString&) const override { return {}; }
    FakeBluez& owner;
};

const QString FakeBluez::devicePath = QStringLiteral("/org/bluez/hci0/dev_AA_BB_CC_DD_EE_FF");

FakeBluez::~FakeBluez() { stop(); }

FakeBluez::FakeBluez(QString busAddress, Options options)
    : address_(std::move(busAddress)), options_(options), connection_(QString()),
      objects_(std::make_unique<Objects>(*this))
{
    qDBusRegisterMetaType<InterfaceMap>();
    qDBusRegisterMetaType<ObjectMap>();
    clients_.setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
    connect(&clients_, &QDBusServiceWatcher::serviceUnregistered, this, &FakeBluez::forget);
}

bool FakeBluez::start()
{
    if (running_)
        return true;
    static int connections = 0;
    connection_ = QDBusConnection::connectToBus(address_, QStringLiteral("fake-bluez-%1").arg(++connections));
    state_ = options_;
    // The objects first: whoever sees the name appear reads them at once.
    if (!connection_.isConnected() ||
        !connection_.registerVirtualObject(QStringLiteral("/"), objects_.get(), QDBusConnection::SubPath) ||
        !connection_.registerService(QStringLiteral("org.bluez"))) {
        QDBusConnection::disconnectFromBus(connection_.name());
        connection_ = QDBusConnection(QString());
        return false;
    }
    clients_.setConnection(connection_);
    running_ = true;
    return true;
}

void FakeBluez::stop()
{
    if (!running_)
        return;
    running_ = false;
    ++generation_;
    clients_.setWatchedServices({});
    clients_.setConnection(QDBusConnection(QString()));
    connection_.unregisterObject(QStringLiteral("/"), QDBusConnection::UnregisterTree);
    // The bus notices a closed connection only later; a start() right after
    // would find the name still taken. Watchers see the same change of owner.
    connection_.unregisterService(QStringLiteral("org.bluez"));
    QDBusConnection::disconnectFromBus(connection_.name());
    connection_ = QDBusConnection(QString());
    applications_.clear();
    advertisements_.clear();
    registering_.clear();
}

void FakeBluez::setPowered(bool powered)
{
    if (powered == state_.powered)
        return;
    state_.powered = powered;
    if (running_ && state_.adapter)
        emitSignal(adapterPath_, propertiesInterface, QStringLiteral("PropertiesChanged"),
                   {adapterInterface, QVariantMap{{QStringLiteral("Powered"), state_.powered}}, QStringList()});
}

void FakeBluez::addAdapter(const QString& path)
{
    if (state_.adapter)
        return;
    state_.adapter = true;
    if (!path.isEmpty())
        adapterPath_ = path;
    if (running_)
        emitSignal(QStringLiteral("/"), objectManagerInterface, QStringLiteral("InterfacesAdded"),
                   {QVariant::fromValue(QDBusObjectPath(adapterPath_)), QVariant::fromValue(adapterInterfaces())});
}

void FakeBluez::removeAdapter()
{
    if (!state_.adapter)
        return;
    // Registrations live on the adapter and go with it.
    releaseAdvertisements();
    applications_.clear();
    const QStringList removed = adapterInterfaces().keys();
    state_.adapter = false;
    if (running_)
        emitSignal(QStringLiteral("/"), objectManagerInterface, QStringLiteral("InterfacesRemoved"),
                   {QVariant::fromValue(QDBusObjectPath(adapterPath_)), removed});
}

void FakeBluez::addAdvertisingManager()
{
    if (state_.advertisingManager)
        return;
    state_.advertisingManager = true;
    if (running_ && state_.adapter)
        emitSignal(QStringLiteral("/"), objectManagerInterface, QStringLiteral("InterfacesAdded"),
                   {QVariant::fromValue(QDBusObjectPath(adapterPath_)),
                    QVariant::fromValue(InterfaceMap{{advertisingManagerInterface, {}}})});
}

void FakeBluez::removeAdvertisingManager()
{
    if (!state_.advertisingManager)
        return;
    state_.advertisingManager = false;
    if (running_ && state_.adapter)
        emitSignal(QStringLiteral("/"), objectManagerInterface, QStringLiteral("InterfacesRemoved"),
                   {QVariant::fromValue(QDBusObjectPath(adapterPath_)), QStringList{advertisingManagerInterface}});
}

void FakeBluez::injectFault(const QString& method, Fault fault, std::chrono::milliseconds lateBy)
{
    faults_[method].append(InjectedFault{fault, lateBy});
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
    applications_.append(Application{sender, root, {}, {}, adapterPath_});
    watch(sender);
}

// Asked after the watch is in place, so a client gone before it is seen too.
void FakeBluez::watch(const QString& sender)
{
    clients_.addWatchedService(sender);
    if (running_ && !connection_.interface()->isServiceRegistered(sender))
        forget(sender);
}

void FakeBluez::forget(const QString& sender)
{
    clients_.removeWatchedService(sender);
    applications_.removeIf([&](const Application& application) { return application.sender == sender; });
    advertisements_.removeIf([&](const Advertisement& advertisement) { return advertisement.sender == sender; });
    registering_.removeIf([&](const QPair<QString, QString>& pending) { return pending.first == sender; });
}

QMap<QString, QVariantMap> FakeBluez::adapterInterfaces() const
{
    InterfaceMap interfaces{{adapterInterface, {{QStringLiteral("Powered"), state_.powered}}},
                            {gattManagerInterface, {}},
                            {propertiesInterface, {}}};
    if (state_.advertisingManager)
        interfaces.insert(advertisingManagerInterface, {});
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

// Nothing to call (no service) when no characteristic has any of `flags`.
QDBusMessage FakeBluez::characteristicCall(const QStringList& flags, const QString& member,
                                           const QList<QVariant>& arguments) const
{
    for (const Application& application : applications_) {
        for (const Characteristic& characteristic : application.characteristics) {
            if (std::any_of(flags.cbegin(), flags.cend(),
                            [&](const QString& flag) { return characteristic.flags.contains(flag); })) {
                QDBusMessage call = QDBusMessage::createMethodCall(application.sender, characteristic.path,
                                                                   characteristicInterface, member);
                call.setArguments(arguments);
                return call;
            }
        }
    }
    return {};
}

bool FakeBluez::writeValue(const QByteArray& value, const QVariantMap& options)
{
    const QDBusMessage call = characteristicCall(
        {QStringLiteral("write-without-response"), QStringLiteral("write")}, QStringLiteral("WriteValue"),
        {value, options});
    // send() marks the call NO_REPLY_EXPECTED, as BlueZ does for writes without response.
    return running_ && !call.service().isEmpty() && connection_.send(call);
}

struct FakeBluez::Flood {
    QDBusMessage call;
    int count = 0;
    double perSecond = 0;
    std::function<void(int)> done;
    int sent = 0;
    QElapsedTimer clock;
};

bool FakeBluez::flood(int count, const QByteArray& value, const QVariantMap& options, double perSecond,
                      std::function<void(int)> done)
{
    const QDBusMessage call = characteristicCall(
        {QStringLiteral("write-without-response"), QStringLiteral("write")}, QStringLiteral("WriteValue"),
        {value, options});
    if (!running_ || call.service().isEmpty())
        return false;
    auto flood = std::make_shared<Flood>();
    flood->call = call;
    flood->count = std::max(count, 0);
    flood->perSecond = std::max(perSecond, 0.0);
    flood->done = std::move(done);
    flood->clock.start();
    pump(flood);
    return true;
}

void FakeBluez::pump(const std::shared_ptr<Flood>& flood)
{
    // Writes sent before waiting for the bus to route them: neither this
    // process nor the bus ever holds more than one batch of ours.
    constexpr int batch = 256;
    const double seconds = static_cast<double>(flood->clock.nsecsElapsed()) * 1e-9;
    const int due = flood->perSecond > 0
                        ? static_cast<int>(std::min<double>(flood->count, std::floor(seconds * flood->perSecond) + 1))
                        : flood->count;
    const int n = std::min(due - flood->sent, batch);
    for (int i = 0; i < n; ++i)
        connection_.send(flood->call);
    flood->sent += n;
    if (n > 0 || flood->sent == flood->count) {
        // The bus answers in order: once this comes back, it has routed
        // every write sent before it.
        const QDBusMessage routed =
            QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                           QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId"));
        whenAnswered(routed, [this, flood](const QDBusMessage&) {
            if (flood->sent == flood->count)
                flood->done(flood->sent);
            else
                pump(flood);
        });
        return;
    }
    // Ahead of the rate: come back when the next write is due.
    const double nextDue = static_cast<double>(flood->sent) / flood->perSecond;
    const auto wait = static_cast<int>(std::ceil((nextDue - seconds) * 1000.0));
    QTimer::singleShot(std::max(wait, 0), Qt::PreciseTimer, this, [this, flood] { pump(flood); });
}

bool FakeBluez::readValue(const QVariantMap& options, std::function<void(const QDBusMessage&)> answered)
{
    const QDBusMessage call = characteristicCall({QStringLiteral("read")}, QStringLiteral("ReadValue"), {options});
    if (!running_ || call.service().isEmpty())
        return false;
    whenAnswered(call, std::move(answered));
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
    const QString interface = message.interface();
    const QString member = message.member();
    const bool gatt = interface == gattManagerInterface;
    const bool advertising = state_.advertisingManager && interface == advertisingManagerInterface;
    const bool onAdapter = state_.adapter && message.path() == adapterPath_ && (gatt || advertising);
    const QString object = gatt ? QStringLiteral("Application") : QStringLiteral("Advertisement");
    if (message.path() == QLatin1String("/") && interface == objectManagerInterface &&
        member == QLatin1String("GetManagedObjects")) {
        ObjectMap objects{{QDBusObjectPath(QStringLiteral("/org/bluez")),
                           {{QStringLiteral("org.bluez.AgentManager1"), {}},
                            {QStringLiteral("org.bluez.ProfileManager1"), {}}}}};
        if (state_.adapter)
            objects.insert(QDBusObjectPath(adapterPath_), adapterInterfaces());
        answer(message, message.createReply(QVariant::fromValue(objects)));
    } else if (onAdapter && member == QLatin1String("Register") + object) {
        registerObject(message, gatt);
    } else if (onAdapter && member == QLatin1String("Unregister") + object) {
        unregisterObject(message, gatt);
    } else {
        answer(message, message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"), member));
    }
    return true;
}

// Both registrations start alike: refuse doubles, then ask the caller about
// the object before answering.
void FakeBluez::registerObject(const QDBusMessage& message, bool application)
{
    ++(application ? registerApplicationCalls_ : registerAdvertisementCalls_);
    QList<InjectedFault>& faults = faults_[message.member()];
    const InjectedFault injected = faults.isEmpty() ? InjectedFault{} : faults.takeFirst();
    if (injected.fault == Fault::swallow)
        return;
    if (injected.fault == Fault::fail)
        return refuse(message, errorFailed, QStringLiteral("Failed to register"));
    if (injected.fault == Fault::refuse || message.signature() != QLatin1String("oa{sv}"))
        return refuse(message, errorInvalidArguments, QStringLiteral("Invalid arguments"));
    const QString sender = message.service();
    const QString path = message.arguments().at(0).value<QDBusObjectPath>().path();
    const auto& apps = applications_;
    const auto& ads = advertisements_;
    const bool held = application ? std::any_of(apps.cbegin(), apps.cend(), heldBy(&Application::root, sender, path))
                                  : std::any_of(ads.cbegin(), ads.cend(), heldBy(&Advertisement::path, sender, path));
    if (held || registering_.contains(qMakePair(sender, path)))
        return refuse(message, QStringLiteral("org.bluez.Error.AlreadyExists"), QStringLiteral("Already Exists"));
    registering_.append(qMakePair(sender, path));
    watch(sender);
    const QDBusMessage question =
        application
            ? QDBusMessage::createMethodCall(sender, path, objectManagerInterface, QStringLiteral("GetManagedObjects"))
            : QDBusMessage::createMethodCall(sender, path, propertiesInterface, QStringLiteral("GetAll"))
                  << advertisementInterface;
    const auto finish = [this, message, path, application](const QDBusMessage& reply) {
        registering_.removeAll(qMakePair(message.service(), path));
        if (application)
            finishApplication(message, path, reply);
        else
            finishAdvertisement(message, path, reply);
    };
    whenAnswered(question, [this, finish, injected](const QDBusMessage& reply) {
        if (injected.fault != Fault::late)
            return finish(reply);
        // Still registering meanwhile, as BlueZ is until it has an answer.
        const quint64 generation = generation_;
        QTimer::singleShot(injected.lateBy, this, [this, finish, reply, generation] {
            if (generation == generation_)
                finish(reply);
        });
    });
}

void FakeBluez::unregisterObject(const QDBusMessage& message, bool application)
{
    const QString path = message.arguments().value(0).value<QDBusObjectPath>().path();
    const QString sender = message.service();
    const bool removed = application ? applications_.removeIf(heldBy(&Application::root, sender, path)) > 0
                                     : advertisements_.removeIf(heldBy(&Advertisement::path, sender, path)) > 0;
    answer(message, removed ? message.createReply()
                            : message.createErrorReply(QStringLiteral("org.bluez.Error.DoesNotExist"),
                                                       QStringLiteral("Does Not Exist")));
}

void FakeBluez::finishApplication(const QDBusMessage& call, const QString& root, const QDBusMessage& reply)
{
    const auto fail = [&](const QString& text) { refuse(call, errorFailed, text); };
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String("a{oa{sa{sv}}}"))
        return fail(QStringLiteral("No object received"));
    const ObjectMap objects = qdbus_cast<ObjectMap>(reply.arguments().at(0));
    Application application{call.service(), root, {}, {}, call.path()};
    for (auto it = objects.cbegin(); it != objects.cend(); ++it) {
        const QString path = it.key().path();
        // BlueZ only follows objects in the application's namespace.
        if (path != root && !path.startsWith(root == QLatin1String("/") ? root : root + QLatin1Char('/')))
            continue;
        if (const auto found = it->constFind(serviceInterface); found != it->cend()) {
            const QVariant uuid = found->value(QStringLiteral("UUID"));
            const QVariant primary = found->value(QStringLiteral("Primary"));
            if (!isUuid(uuid) || primary.metaType().id() != QMetaType::Bool)
                return fail(QStringLiteral("Invalid service object ") + path);
            application.services.append(Service{path, uuid.toString(), primary.toBool()});
        }
        if (const auto found = it->constFind(characteristicInterface); found != it->cend()) {
            const QVariant uuid = found->value(QStringLiteral("UUID"));
            const QVariant service = found->value(QStringLiteral("Service"));
            const QVariant flags = found->value(QStringLiteral("Flags"));
            if (!isUuid(uuid) || service.metaType() != QMetaType::fromType<QDBusObjectPath>() || !isStringList(flags))
                return fail(QStringLiteral("Invalid characteristic object ") + path);
            for (const QString& flag : flags.toStringList()) {
                if (!knownFlags.contains(flag))
                    return fail(QStringLiteral("Unknown flag ") + flag);
            }
            application.characteristics.append(
                Characteristic{path, uuid.toString(), service.value<QDBusObjectPath>().path(), flags.toStringList()});
        }
    }
    if (application.services.isEmpty())
        return fail(QStringLiteral("No valid service object found"));
    for (const Characteristic& characteristic : application.characteristics) {
        if (std::none_of(application.services.cbegin(), application.services.cend(),
                         [&](const Service& service) { return service.path == characteristic.service; }))
            return fail(QStringLiteral("No service object for ") + characteristic.path);
    }
    applications_.append(application);
    answer(call, call.createReply());
    Q_EMIT applicationRegistered(application);
}

void FakeBluez::finishAdvertisement(const QDBusMessage& call, const QString& path, const QDBusMessage& reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String("a{sv}"))
        return refuse(call, errorFailed, QStringLiteral("Failed to read advertisement"));
    // BlueZ answers Failed, not InvalidArguments, for properties it cannot parse.
    const auto bad = [&](const char* property) {
        refuse(call, errorFailed, QStringLiteral("Failed to parse advertisement (%1)").arg(property));
    };
    const QVariantMap properties = qdbus_cast<QVariantMap>(reply.arguments().at(0));
    const QVariant type = properties.value(QStringLiteral("Type"), QStringLiteral("broadcast"));
    if (!isString(type) ||
        (type.toString() != QLatin1String("broadcast") && type.toString() != QLatin1String("peripheral")))
        return bad("Type");
    const QVariant uuids = properties.value(QStringLiteral("ServiceUUIDs"), QStringList());
    const QStringList uuidList = uuids.toStringList();
    if (!isStringList(uuids) ||
        !std::all_of(uuidList.cbegin(), uuidList.cend(), [](const QString& uuid) { return isUuid(uuid); }))
        return bad("ServiceUUIDs");
    const QVariant name = properties.value(QStringLiteral("LocalName"), QString());
    if (!isString(name))
        return bad("LocalName");
    const QVariant discoverable = properties.value(QStringLiteral("Discoverable"));
    if (discoverable.isValid() && discoverable.metaType().id() != QMetaType::Bool)
        return bad("Discoverable");
    const Advertisement advertisement{call.service(), path, type.toString(), name.toString(), uuidList, call.path(),
                                      discoverable.isValid() ? std::optional(discoverable.toBool()) : std::nullopt};
    advertisements_.append(advertisement);
    answer(call, call.createReply());
    Q_EMIT advertisementRegistered(advertisement);
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
