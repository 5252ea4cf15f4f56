#include "backends/bluez/BluezPeripheralManager.h"

#include "BusMonitor.h"
#include "RecordingDelegate.h"
#include "fakebluez/FakeBluez.h"
#include "support/PrivateBus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDeadlineTimer>
#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace zt::test {
namespace {

const QString serviceUuid = QStringLiteral("613805b0-8dd4-4268-98ae-a6e72bf454ab");
const QString characteristicUuid = QStringLiteral("613805b1-8dd4-4268-98ae-a6e72bf454ab");
const QString applicationRoot = QStringLiteral("/org/zimtorva/companion");
const QString otherDevice = QStringLiteral("/org/bluez/hci0/dev_11_22_33_44_55_66");
const QString notAuthorized = QStringLiteral("org.bluez.Error.NotAuthorized");

// Runs the event loop until `done`; false if it does not come in time.
template <typename Predicate>
bool waitUntil(Predicate done)
{
    const QDeadlineTimer deadline(10000);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

// Calls without blocking: the callee may be in this very process.
QDBusMessage callAndWait(QDBusConnection& connection, const QDBusMessage& call)
{
    QDBusPendingCall pending = connection.asyncCall(call);
    waitUntil([&] { return pending.isFinished(); });
    return pending.reply();
}

Bytes bytes(const QByteArray& data) { return Bytes(data.begin(), data.end()); }

class BluezPeripheralManagerTest : public ::testing::Test {
protected:
    ~BluezPeripheralManagerTest() override
    {
        manager.reset();
        fake.reset();
        for (const QString& name : connectionNames_)
            QDBusConnection::disconnectFromBus(name);
    }

    FakeBluez& startFake(FakeBluez::Options options = FakeBluez::Options())
    {
        fake = std::make_unique<FakeBluez>(QString::fromStdString(bus.address()), options);
        EXPECT_TRUE(fake->start());
        return *fake;
    }

    QDBusConnection connectTo(const QString& address)
    {
        static int connections = 0;
        connectionNames_ << QStringLiteral("bluez-test-%1").arg(++connections);
        return QDBusConnection::connectToBus(address, connectionNames_.back());
    }
    QDBusConnection newConnection() { return connectTo(QString::fromStdString(bus.address())); }

    void startManager(const QDBusConnection& connection)
    {
        managerBus = connection;
        manager = std::make_unique<BluezPeripheralManager>(delegate, managerBus);
    }
    void startManager() { startManager(newConnection()); }

    // Everything the manager sent before this has reached the daemon double
    // (and everything it answered has come back).
    void roundTrip()
    {
        callAndWait(managerBus, QDBusMessage::createMethodCall(QStringLiteral("org.bluez"), QStringLiteral("/"),
                                                               QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                                                               QStringLiteral("GetManagedObjects")));
        QCoreApplication::processEvents();
    }

    bool registered() const { return fake->applications().size() == 1 && fake->advertisements().size() == 1; }

    // A default daemon, our manager, the first report and both registrations.
    void startRegistered()
    {
        startFake();
        startManager();
        ASSERT_TRUE(waitUntil([&] { return registered(); }));
    }

    PrivateBus bus;
    std::unique_ptr<FakeBluez> fake;
    RecordingDelegate delegate;
    QDBusConnection managerBus{QString()};
    std::unique_ptr<BluezPeripheralManager> manager;

private:
    QStringList connectionNames_;
};

TEST_F(BluezPeripheralManagerTest, RegistersTheTreeAndTheAdvertisementAsTheDaemonChecksThem)
{
    startFake();
    startManager();
    EXPECT_TRUE(delegate.states.empty()) << "reported from inside the constructor";
    EXPECT_EQ(manager->state(), ManagerState::unknown);

    ASSERT_TRUE(waitUntil([&] { return registered(); })) << fake->rejections().join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(delegate.states, std::vector<ManagerState>{ManagerState::poweredOn});
    EXPECT_TRUE(fake->rejections().isEmpty());

    const FakeBluez::Application& application = fake->applications().front();
    EXPECT_EQ(application.sender, managerBus.baseService());
    EXPECT_EQ(application.root, applicationRoot);
    ASSERT_EQ(application.services.size(), 1);
    EXPECT_EQ(application.services[0].uuid, serviceUuid);
    EXPECT_TRUE(application.services[0].primary);
    ASSERT_EQ(application.characteristics.size(), 1);
    EXPECT_EQ(application.characteristics[0].uuid, characteristicUuid);
    EXPECT_EQ(application.characteristics[0].service, application.services[0].path);
    EXPECT_EQ(application.characteristics[0].flags,
              QStringList({QStringLiteral("read"), QStringLiteral("write-without-response")}));

    const FakeBluez::Advertisement& advertisement = fake->advertisements().front();
    EXPECT_EQ(advertisement.sender, managerBus.baseService());
    EXPECT_EQ(advertisement.type, QStringLiteral("peripheral"));
    EXPECT_EQ(advertisement.localName, QStringLiteral("MyGATTServer"));
    EXPECT_EQ(advertisement.serviceUUIDs, QStringList{serviceUuid});
    EXPECT_FALSE(delegate.reentered);
}

struct AdapterCase {
    const char* name;
    bool daemon;
    bool busReachable;
    FakeBluez::Options options;
    ManagerState expected;
};

void PrintTo(const AdapterCase& c, std::ostream* out) { *out << c.name; }

class BluezAdapterStateTest : public BluezPeripheralManagerTest, public ::testing::WithParamInterface<AdapterCase> {};

TEST_P(BluezAdapterStateTest, FirstReportIsTheAdapterState)
{
    const AdapterCase& c = GetParam();
    if (c.daemon)
        startFake(c.options);
    startManager(c.busReachable ? newConnection() : connectTo(QStringLiteral("unix:path=/nonexistent/zt-no-bus")));
    EXPECT_TRUE(delegate.states.empty());

    ASSERT_TRUE(waitUntil([&] { return !delegate.states.empty(); }));
    roundTrip();
    EXPECT_EQ(delegate.states, std::vector<ManagerState>{c.expected});
    EXPECT_EQ(manager->state(), c.expected);
    if (fake && c.expected != ManagerState::poweredOn) {
        EXPECT_EQ(fake->registerApplicationCalls(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bluez, BluezAdapterStateTest,
    ::testing::Values(AdapterCase{"NoBus", false, false, {}, ManagerState::unsupported},
                      AdapterCase{"NoDaemon", false, true, {}, ManagerState::unsupported},
                      AdapterCase{"NoAdapter", true, true, {false, true, true}, ManagerState::unsupported},
                      AdapterCase{"AdapterOff", true, true, {true, false, true}, ManagerState::poweredOff},
                      AdapterCase{"AdapterOn", true, true, {}, ManagerState::poweredOn}),
    [](const ::testing::TestParamInfo<AdapterCase>& info) { return std::string(info.param.name); });

TEST_F(BluezPeripheralManagerTest, PowerCycleKeepsExactlyOneRegistration)
{
    startRegistered();
    fake->setPowered(false);
    ASSERT_TRUE(waitUntil([&] { return delegate.states.size() == 2; }));
    fake->setPowered(true);
    ASSERT_TRUE(waitUntil([&] { return delegate.states.size() == 3; }));
    roundTrip();

    EXPECT_EQ(delegate.states, (std::vector<ManagerState>{ManagerState::poweredOn, ManagerState::poweredOff,
                                                          ManagerState::poweredOn}));
    EXPECT_TRUE(registered());
    EXPECT_EQ(fake->registerApplicationCalls(), 1);
    EXPECT_EQ(fake->registerAdvertisementCalls(), 1);
}

TEST_F(BluezPeripheralManagerTest, DaemonRestartRegistersAgainOnTheNewDaemon)
{
    startRegistered();
    const QString first = fake->uniqueName();
    ASSERT_TRUE(fake->restart());
    ASSERT_NE(fake->uniqueName(), first);

    ASSERT_TRUE(waitUntil([&] { return registered(); }));
    roundTrip();
    EXPECT_EQ(delegate.states, (std::vector<ManagerState>{ManagerState::poweredOn, ManagerState::unsupported,
                                                          ManagerState::poweredOn}));
    // One each per daemon.
    EXPECT_EQ(fake->registerApplicationCalls(), 2);
    EXPECT_EQ(fake->registerAdvertisementCalls(), 2);
    EXPECT_TRUE(fake->rejections().isEmpty());
}

TEST_F(BluezPeripheralManagerTest, RegistersWhatWasAskedForWhenTheAdapterComesBack)
{
    startRegistered();
    // From here on nobody asks again: the manager registers on its own.
    delegate.setUpWhenPoweredOn = false;
    fake->removeAdapter();
    ASSERT_TRUE(waitUntil([&] { return delegate.states.size() == 2; }));
    EXPECT_EQ(delegate.states.back(), ManagerState::unsupported);
    fake->addAdapter();
    ASSERT_TRUE(waitUntil([&] { return registered(); }));
    EXPECT_EQ(fake->registerApplicationCalls(), 2);
}

TEST_F(BluezPeripheralManagerTest, AdvertisesOnceTheAdvertisingManagerAppears)
{
    FakeBluez::Options options;
    options.advertisingManager = false;
    startFake(options);
    startManager();
    ASSERT_TRUE(waitUntil([&] { return fake->applications().size() == 1; }));
    roundTrip();
    EXPECT_EQ(fake->registerAdvertisementCalls(), 0);

    fake->addAdvertisingManager();
    ASSERT_TRUE(waitUntil([&] { return fake->advertisements().size() == 1; }));
}

TEST_F(BluezPeripheralManagerTest, AlreadyExistsCountsAsRegistered)
{
    startFake();
    const QDBusConnection connection = newConnection();
    fake->preregisterApplication(connection.baseService(), applicationRoot);
    startManager(connection);
    ASSERT_TRUE(waitUntil([&] { return fake->advertisements().size() == 1; }));
    roundTrip();
    ASSERT_EQ(fake->rejections(), QStringList{QStringLiteral("org.bluez.Error.AlreadyExists")});

    fake->setPowered(false);
    fake->setPowered(true);
    ASSERT_TRUE(waitUntil([&] { return delegate.states.size() == 3; }));
    roundTrip();
    EXPECT_EQ(fake->registerApplicationCalls(), 1) << "tried again after AlreadyExists";
}

TEST_F(BluezPeripheralManagerTest, ReleasedAdvertisementIsRegisteredAgain)
{
    startRegistered();
    fake->releaseAdvertisements();
    ASSERT_TRUE(waitUntil([&] { return fake->advertisements().size() == 1; }));
    EXPECT_EQ(fake->registerAdvertisementCalls(), 2);
}

struct WriteCase {
    const char* name;
    QByteArray value;
    QVariantMap options;
    std::string central;
};

void PrintTo(const WriteCase& c, std::ostream* out) { *out << c.name; }

class BluezWriteTest : public BluezPeripheralManagerTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(BluezWriteTest, WriteValueBecomesOneWriteRequest)
{
    const WriteCase& c = GetParam();
    startRegistered();
    ASSERT_TRUE(fake->writeValue(c.value, c.options));
    ASSERT_TRUE(waitUntil([&] { return !delegate.writes.empty(); }));
    roundTrip();

    ASSERT_EQ(delegate.writes.size(), 1u);
    ASSERT_EQ(delegate.writes[0].size(), 1u);
    const ATTRequest& request = delegate.writes[0][0];
    EXPECT_EQ(request.central.identifier, c.central);
    EXPECT_EQ(request.characteristic, RecordingDelegate::characteristicUuid());
    ASSERT_TRUE(request.value.has_value());
    EXPECT_EQ(*request.value, bytes(c.value));
    EXPECT_FALSE(delegate.reentered);
}

INSTANTIATE_TEST_SUITE_P(
    Bluez, BluezWriteTest,
    ::testing::Values(
        WriteCase{"Update", QByteArray::fromHex("0a0608011002180320012a00"), FakeBluez::requestOptions(),
                  FakeBluez::devicePath.toStdString()},
        WriteCase{"Empty", QByteArray(), FakeBluez::requestOptions(otherDevice), otherDevice.toStdString()},
        WriteCase{"DeviceAsString", QByteArray("\x01", 1), QVariantMap{{QStringLiteral("device"), otherDevice}}, ""},
        WriteCase{"DeviceAsNumber", QByteArray("\x02", 1), QVariantMap{{QStringLiteral("device"), 7}}, ""},
        WriteCase{"NoOptions", QByteArray("\x03", 1), QVariantMap(), ""}),
    [](const ::testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.name); });

struct ReadCase {
    const char* name;
    QVariantMap options;
    std::optional<ATTResult> result;
    std::optional<Bytes> value;
    std::size_t offset;
    std::optional<QByteArray> answer; // else this error
    const char* error;
};

void PrintTo(const ReadCase& c, std::ostream* out) { *out << c.name; }

class BluezReadTest : public BluezPeripheralManagerTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(BluezReadTest, ReadValueIsAnsweredFromTheDelegate)
{
    const ReadCase& c = GetParam();
    delegate.readResult = c.result;
    delegate.readValue = c.value;
    startRegistered();

    std::optional<QDBusMessage> reply;
    ASSERT_TRUE(fake->readValue(c.options, [&](const QDBusMessage& answer) { reply = answer; }));
    ASSERT_TRUE(waitUntil([&] { return reply.has_value(); }));

    ASSERT_EQ(delegate.reads.size(), 1u);
    EXPECT_EQ(delegate.reads[0].offset, c.offset);
    EXPECT_EQ(delegate.reads[0].central.identifier, FakeBluez::devicePath.toStdString());
    EXPECT_EQ(delegate.reads[0].characteristic, RecordingDelegate::characteristicUuid());
    EXPECT_FALSE(delegate.reads[0].value.has_value());
    if (c.answer) {
        ASSERT_EQ(reply->type(), QDBusMessage::ReplyMessage) << reply->errorName().toStdString();
        ASSERT_EQ(reply->signature(), QStringLiteral("ay"));
        EXPECT_EQ(reply->arguments().at(0).toByteArray(), *c.answer);
    } else {
        EXPECT_EQ(reply->errorName(), QString::fromLatin1(c.error));
    }
}

QVariantMap withTextOffset()
{
    QVariantMap options = FakeBluez::requestOptions();
    options.insert(QStringLiteral("offset"), QStringLiteral("5"));
    return options;
}

const Bytes hello{'H', 'e', 'l', 'l', 'o', ',', ' ', 'C', 'e', 'n', 't', 'r', 'a', 'l', '!'};

INSTANTIATE_TEST_SUITE_P(
    Bluez, BluezReadTest,
    ::testing::Values(
        ReadCase{"Value", FakeBluez::requestOptions(), ATTResult::success, hello, 0, QByteArray("Hello, Central!"), ""},
        // The whole value at any offset: the link decides what a read returns.
        ReadCase{"AtOffset", FakeBluez::requestOptions(FakeBluez::devicePath, 5), ATTResult::success, hello, 5,
                 QByteArray("Hello, Central!"), ""},
        ReadCase{"OffsetNotANumber", withTextOffset(), ATTResult::success, hello, 0, QByteArray("Hello, Central!"), ""},
        ReadCase{"NoValueSet", FakeBluez::requestOptions(), ATTResult::success, std::nullopt, 0, QByteArray(), ""},
        ReadCase{"Unanswered", FakeBluez::requestOptions(), std::nullopt, hello, 0, std::nullopt,
                 "org.bluez.Error.Failed"},
        ReadCase{"NotPermitted", FakeBluez::requestOptions(), ATTResult::readNotPermitted, hello, 0, std::nullopt,
                 "org.bluez.Error.NotPermitted"},
        ReadCase{"UnlikelyError", FakeBluez::requestOptions(), ATTResult::unlikelyError, hello, 0, std::nullopt,
                 "org.bluez.Error.Failed"}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST_F(BluezPeripheralManagerTest, SendsNoReplyToAWriteWithoutResponse)
{
    startRegistered();
    BusMonitor monitor(bus.address());
    ASSERT_TRUE(waitUntil([&] { return monitor.ready(); }));
    const QString us = managerBus.baseService();
    const QString daemon = fake->uniqueName();
    auto repliesToDaemon = [&](bool error) {
        int count = 0;
        for (const BusMonitor::Reply& reply : monitor.replies())
            count += reply.sender == us && reply.destination == daemon && reply.error == error;
        return count;
    };

    // An unanswered read behind the write: its error reply is the marker
    // that everything we sent before it has been seen.
    delegate.readResult = std::nullopt;
    ASSERT_TRUE(fake->writeValue(QByteArray("\x0a\x00", 2), FakeBluez::requestOptions()));
    ASSERT_TRUE(fake->readValue(FakeBluez::requestOptions(), [](const QDBusMessage&) {}));
    ASSERT_TRUE(waitUntil([&] { return repliesToDaemon(true) == 1; }));

    EXPECT_EQ(repliesToDaemon(false), 0);
    EXPECT_EQ(delegate.writes.size(), 1u);
}

TEST_F(BluezPeripheralManagerTest, OnlyTheDaemonMayCallOurObjects)
{
    startRegistered();
    QDBusConnection stranger = newConnection();
    const QString us = managerBus.baseService();
    const FakeBluez::Application application = fake->applications().front();
    const QString servicePath = application.services.front().path;
    const QString characteristicPath = application.characteristics.front().path;
    const QString advertisementPath = fake->advertisements().front().path;
    const QString properties = QStringLiteral("org.freedesktop.DBus.Properties");
    const QString characteristic = QStringLiteral("org.bluez.GattCharacteristic1");
    auto call = [&](const QString& path, const QString& interface, const QString& member, const QList<QVariant>& args) {
        QDBusMessage message = QDBusMessage::createMethodCall(us, path, interface, member);
        message.setArguments(args);
        return message;
    };

    const std::vector<QDBusMessage> calls{
        call(applicationRoot, QStringLiteral("org.freedesktop.DBus.ObjectManager"),
             QStringLiteral("GetManagedObjects"), {}),
        call(servicePath, properties, QStringLiteral("GetAll"), {QStringLiteral("org.bluez.GattService1")}),
        call(characteristicPath, properties, QStringLiteral("Get"), {characteristic, QStringLiteral("UUID")}),
        call(characteristicPath, characteristic, QStringLiteral("ReadValue"), {FakeBluez::requestOptions()}),
        call(characteristicPath, characteristic, QStringLiteral("WriteValue"),
             {QByteArray("\x01", 1), FakeBluez::requestOptions()}),
        call(advertisementPath, properties, QStringLiteral("GetAll"), {QStringLiteral("org.bluez.LEAdvertisement1")}),
        call(advertisementPath, QStringLiteral("org.bluez.LEAdvertisement1"), QStringLiteral("Release"), {}),
    };
    // Also when the stranger does not wait for an answer.
    stranger.send(calls[4]);
    stranger.send(calls.back());
    for (const QDBusMessage& message : calls) {
        const QDBusMessage reply = callAndWait(stranger, message);
        EXPECT_EQ(reply.errorName(), notAuthorized) << message.member().toStdString();
    }
    roundTrip();

    EXPECT_TRUE(delegate.reads.empty());
    EXPECT_TRUE(delegate.writes.empty());
    EXPECT_EQ(fake->registerAdvertisementCalls(), 1) << "a stranger's Release() was taken";
}

TEST_F(BluezPeripheralManagerTest, CallsWithTheWrongArgumentsReachNothing)
{
    startRegistered();
    QDBusConnection daemon = fake->connection();
    const FakeBluez::Application application = fake->applications().front();
    const QString characteristicPath = application.characteristics.front().path;
    const QString characteristic = QStringLiteral("org.bluez.GattCharacteristic1");
    const QVariantMap options = FakeBluez::requestOptions();
    const std::vector<std::pair<QString, QList<QVariant>>> calls{
        {QStringLiteral("WriteValue"), {}},
        {QStringLiteral("WriteValue"), {QStringLiteral("text")}},
        {QStringLiteral("WriteValue"), {QByteArray("\x01", 1), QStringLiteral("options")}},
        {QStringLiteral("WriteValue"), {options, QByteArray("\x01", 1)}},
        {QStringLiteral("ReadValue"), {}},
        {QStringLiteral("ReadValue"), {QByteArray("\x01", 1)}},
        {QStringLiteral("ReadValue"), {options, options}},
    };
    for (const auto& [member, arguments] : calls) {
        QDBusMessage call = QDBusMessage::createMethodCall(managerBus.baseService(), characteristicPath,
                                                           characteristic, member);
        call.setArguments(arguments);
        const QDBusMessage reply = callAndWait(daemon, call);
        EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage)
            << member.toStdString() << " " << call.signature().toStdString();
    }
    EXPECT_TRUE(delegate.reads.empty());
    EXPECT_TRUE(delegate.writes.empty());
}

// The same daemon double as a process of its own, driven through its console.
TEST_F(BluezPeripheralManagerTest, WorksWithTheFakeDaemonProcess)
{
    QProcess daemon;
    QStringList lines;
    QByteArray pending;
    QObject::connect(&daemon, &QProcess::readyReadStandardOutput, [&] {
        pending += daemon.readAllStandardOutput();
        for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            lines << QString::fromUtf8(pending.left(end));
            pending.remove(0, end + 1);
        }
    });
    auto saw = [&](const QString& prefix) {
        return std::any_of(lines.cbegin(), lines.cend(), [&](const QString& line) { return line.startsWith(prefix); });
    };
    daemon.start(QStringLiteral(FAKE_BLUEZ_PATH), {QStringLiteral("--address"), QString::fromStdString(bus.address())});
    ASSERT_TRUE(waitUntil([&] { return saw(QStringLiteral("ready ")); }));

    startManager();
    ASSERT_TRUE(
        waitUntil([&] { return saw(QStringLiteral("advertisement ")) && saw(QStringLiteral("application ")); }));
    EXPECT_TRUE(lines.contains(QStringLiteral("application %1 %2 %3 read,write-without-response")
                                   .arg(managerBus.baseService(), applicationRoot, characteristicUuid)))
        << lines.join(QLatin1Char('\n')).toStdString();

    daemon.write("write 0a00\nread 3\n");
    ASSERT_TRUE(waitUntil([&] { return saw(QStringLiteral("read ")); }));
    EXPECT_TRUE(lines.contains(QStringLiteral("read ") + QString::fromLatin1(QByteArray("Hello, Central!").toHex())));
    ASSERT_EQ(delegate.writes.size(), 1u);
    EXPECT_EQ(delegate.writes[0][0].value, Bytes({0x0a, 0x00}));
    EXPECT_EQ(delegate.reads.at(0).offset, 3u);

    daemon.write("power off\nrestart\n");
    ASSERT_TRUE(waitUntil([&] { return lines.count(QStringLiteral("ok")) == 2 && delegate.states.size() == 4; }));
    EXPECT_EQ(delegate.states, (std::vector<ManagerState>{ManagerState::poweredOn, ManagerState::poweredOff,
                                                          ManagerState::unsupported, ManagerState::poweredOn}));
    ASSERT_TRUE(waitUntil([&] {
        return std::count_if(lines.cbegin(), lines.cend(),
                             [](const QString& line) { return line.startsWith(QStringLiteral("application ")); }) == 2;
    }));
    daemon.write("quit\n");
    EXPECT_TRUE(daemon.waitForFinished(5000));
}

} // namespace
} // namespace zt::test
