#include "backends/bluez/BluezPeripheralManager.h"

#include "fakebluez/FakeBluez.h"
#include "support/PrivateBus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace zt::test {
namespace {

using namespace std::chrono_literals;
using State = ManagerState;
using Fault = FakeBluez::Fault;
const State on = State::poweredOn;
const State off = State::poweredOff;
const State none = State::unsupported;

const QString serviceUuid = QStringLiteral("613805b0-8dd4-4268-98ae-a6e72bf454ab");
const QString characteristicUuid = QStringLiteral("613805b1-8dd4-4268-98ae-a6e72bf454ab");
const QString applicationRoot = QStringLiteral("/org/zimtorva/companion");
const QString otherDevice = QStringLiteral("/org/bluez/hci0/dev_11_22_33_44_55_66");
const Bytes hello{'H', 'e', 'l', 'l', 'o', ',', ' ', 'C', 'e', 'n', 't', 'r', 'a', 'l', '!'};

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

// Without blocking: the callee may be in this very process.
QDBusMessage callAndWait(QDBusConnection& connection, const QDBusMessage& call)
{
    QDBusPendingCall pending = connection.asyncCall(call);
    waitUntil([&] { return pending.isFinished(); });
    return pending.reply();
}

// Answers the way the link does: on every powered-on report it adds the
// service and advertises, and it answers requests from within the callback.
class RecordingDelegate : public PeripheralManagerDelegate {
public:
    static Uuid characteristic() { return *Uuid::fromString(characteristicUuid.toStdString()); }

    void peripheralManagerDidUpdateState(PeripheralManager& manager) override
    {
        states.push_back(manager.state());
        const CharacteristicDescription characteristic{.uuid = RecordingDelegate::characteristic(),
                                                       .properties = propertyRead | propertyWriteWithoutResponse,
                                                       .value = std::nullopt,
                                                       .permissions = permissionReadable | permissionWriteable};
        const ServiceDescription service{*Uuid::fromString(serviceUuid.toStdString()), true, {characteristic}};
        inside([&] {
            if (manager.state() == on && setUpWhenPoweredOn) {
                manager.add(service);
                manager.startAdvertising(AdvertisementData{"MyGATTServer", {service.uuid}});
            }
        });
    }
    void didReceiveRead(PeripheralManager& manager, ATTRequest& request) override
    {
        reads.push_back(request);
        writesBeforeRead = writes.size();
        request.value = readValue;
        inside([&] {
            if (readResult)
                manager.respond(request, *readResult);
        });
    }
    void didReceiveWrite(PeripheralManager& manager, const std::vector<ATTRequest>& requests) override
    {
        writes.push_back(requests);
        if (onWrite)
            onWrite();
        // A link that takes its time over each write.
        std::this_thread::sleep_for(writeCost);
        inside([&] {
            for (const ATTRequest& request : requests)
                manager.respond(request, ATTResult::success);
        });
    }

    bool setUpWhenPoweredOn = true;
    std::optional<ATTResult> readResult = ATTResult::success; // nothing: reads stay unanswered
    std::optional<Bytes> readValue = hello;
    std::vector<State> states;
    std::vector<ATTRequest> reads;
    std::vector<std::vector<ATTRequest>> writes;
    std::chrono::microseconds writeCost{0};
    std::function<void()> onWrite;
    std::size_t writesBeforeRead = 0; // when the last read came
    bool reentered = false; // a callback came while we were inside a call into the manager

private:
    template <typename Call>
    void inside(Call call)
    {
        reentered = reentered || inside_;
        inside_ = true;
        call();
        inside_ = false;
    }
    bool inside_ = false;
};

class BluezTest : public ::testing::Test {
public:
    ~BluezTest() override
    {
        manager.reset();
        fake.reset();
        for (const QString& name : connectionNames_)
            QDBusConnection::disconnectFromBus(name);
    }

    void startFake(FakeBluez::Options options = {})
    {
        fake = std::make_unique<FakeBluez>(QString::fromStdString(bus.address()), options);
        EXPECT_TRUE(fake->start());
    }
    QDBusConnection newConnection(QString address = {})
    {
        static int connections = 0;
        connectionNames_ << QStringLiteral("bluez-test-%1").arg(++connections);
        return QDBusConnection::connectToBus(address.isEmpty() ? QString::fromStdString(bus.address()) : address,
                                             connectionNames_.back());
    }
    void startManager(std::optional<QDBusConnection> connection = std::nullopt, bluez::RegistrationTiming timing = {})
    {
        managerBus = connection ? *connection : newConnection();
        manager = std::make_unique<BluezPeripheralManager>(delegate, managerBus, timing, writeTurn);
    }
    // Everything sent before has reached the daemon double and come back.
    void roundTrip()
    {
        callAndWait(managerBus, QDBusMessage::createMethodCall(QStringLiteral("org.bluez"), QStringLiteral("/"),
                                                               QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                                                               QStringLiteral("GetManagedObjects")));
        QCoreApplication::processEvents();
    }
    bool registered() const { return fake->applications().size() == 1 && fake->advertisements().size() == 1; }
    void startRegistered()
    {
        startFake();
        startManager();
        ASSERT_TRUE(waitUntil([&] { return registered(); }));
    }
    void waitForStates(std::size_t count)
    {
        ASSERT_TRUE(waitUntil([&] { return delegate.states.size() == count; }));
    }
    void powerCycle()
    {
        const std::size_t before = delegate.states.size();
        fake->setPowered(false);
        waitForStates(before + 1);
        fake->setPowered(true);
        waitForStates(before + 2);
    }

    PrivateBus bus;
    std::unique_ptr<FakeBluez> fake;
    RecordingDelegate delegate;
    bluez::WriteTurn writeTurn; // the platform's, as the manager gets it
    QDBusConnection managerBus{QString()};
    std::unique_ptr<BluezPeripheralManager> manager;

private:
    QStringList connectionNames_;
};

TEST_F(BluezTest, RegistersTheTreeAndTheAdvertisementAsTheDaemonChecksThem)
{
    startFake();
    startManager();
    EXPECT_TRUE(delegate.states.empty()) << "reported from inside the constructor";
    EXPECT_EQ(manager->state(), State::unknown);
    ASSERT_TRUE(waitUntil([&] { return registered(); })) << fake->rejections().join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(delegate.states, std::vector<State>{on});

    const FakeBluez::Application& application = fake->applications().front();
    EXPECT_EQ(application.sender, managerBus.baseService());
    EXPECT_EQ(application.root, applicationRoot);
    ASSERT_EQ(application.services.size(), 1);
    EXPECT_EQ(application.services[0].uuid, serviceUuid);
    EXPECT_TRUE(application.services[0].primary);
    ASSERT_EQ(application.characteristics.size(), 1);
    EXPECT_EQ(application.characteristics[0].uuid, characteristicUuid);
    EXPECT_EQ(application.characteristics[0].flags,
              QStringList({QStringLiteral("read"), QStringLiteral("write-without-response")}));
    const FakeBluez::Advertisement& advertisement = fake->advertisements().front();
    EXPECT_EQ(advertisement.sender, managerBus.baseService());
    EXPECT_EQ(advertisement.type, QStringLiteral("peripheral"));
    EXPECT_EQ(advertisement.localName, QStringLiteral("MyGATTServer"));
    EXPECT_EQ(advertisement.serviceUUIDs, QStringList{serviceUuid});
    // Generally discoverable whatever the adapter's own setting.
    EXPECT_EQ(advertisement.discoverable, true);
    EXPECT_FALSE(delegate.reentered);
}

TEST(RegistrationTiming, RetriesBackOffFromOneSecondDoublingUpToThirty)
{
    const bluez::RegistrationTiming timing;
    std::vector<std::chrono::milliseconds> delays;
    for (const int failures : {1, 2, 3, 4, 5, 6, 7, 1000})
        delays.push_back(timing.retryDelay(failures));
    EXPECT_EQ(delays, (std::vector<std::chrono::milliseconds>{1s, 2s, 4s, 8s, 16s, 30s, 30s, 30s}));
    EXPECT_EQ(timing.callTimeout, 25s);
}

struct AdapterCase {
    const char* name;
    bool daemon;
    bool busReachable;
    FakeBluez::Options options;
    State expected;
};

void PrintTo(const AdapterCase& c, std::ostream* out) { *out << c.name; }

class BluezAdapterTest : public BluezTest, public ::testing::WithParamInterface<AdapterCase> {};

TEST_P(BluezAdapterTest, FirstReportIsTheAdapterState)
{
    const AdapterCase& c = GetParam();
    if (c.daemon)
        startFake(c.options);
    startManager(c.busReachable ? newConnection() : newConnection(QStringLiteral("unix:path=/nonexistent/zt-no-bus")));
    ASSERT_TRUE(waitUntil([&] { return !delegate.states.empty(); }));
    roundTrip();
    EXPECT_EQ(delegate.states, std::vector<State>{c.expected});
    EXPECT_EQ(manager->state(), c.expected);
    if (fake && c.expected != State::poweredOn) {
        EXPECT_EQ(fake->registerApplicationCalls(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Bluez, BluezAdapterTest,
                         ::testing::Values(AdapterCase{"NoBus", false, false, {}, none},
                                           AdapterCase{"NoDaemon", false, true, {}, none},
                                           AdapterCase{"NoAdapter", true, true, {false, true, true}, none},
                                           AdapterCase{"AdapterOff", true, true, {true, false, true}, off},
                                           AdapterCase{"AdapterOn", true, true, {}, on}),
                         [](const auto& info) { return std::string(info.param.name); });

// Each row changes the daemon's side; the manager must end registered once.
struct LifeCase {
    const char* name;
    std::function<void(BluezTest&)> story;
    std::vector<State> states;
    int applicationCalls;
    int advertisementCalls; // and the rejections; unchecked: -1, nothing
    std::optional<QStringList> rejections;
};

void PrintTo(const LifeCase& c, std::ostream* out) { *out << c.name; }

class BluezLifeTest : public BluezTest, public ::testing::WithParamInterface<LifeCase> {};

TEST_P(BluezLifeTest, EndsRegisteredExactlyOnce)
{
    const LifeCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(c.story(*this));
    ASSERT_TRUE(waitUntil([&] { return registered() && delegate.states.size() == c.states.size(); }))
        << fake->applications().size() << " applications, " << fake->advertisements().size() << " advertisements";
    roundTrip();
    EXPECT_TRUE(registered());
    EXPECT_EQ(delegate.states, c.states);
    EXPECT_EQ(fake->registerApplicationCalls(), c.applicationCalls);
    if (c.advertisementCalls >= 0) {
        EXPECT_EQ(fake->registerAdvertisementCalls(), c.advertisementCalls);
    }
    if (c.rejections) {
        EXPECT_EQ(fake->rejections(), *c.rejections);
    }
    EXPECT_EQ(fake->applications().front().adapter, fake->adapterPath());
    EXPECT_EQ(fake->advertisements().front().adapter, fake->adapterPath());
    EXPECT_FALSE(delegate.reentered);
}

// Fast enough for a test, slow enough that a call the double answers at
// once is never taken for a lost one.
bluez::RegistrationTiming quickRetries(std::chrono::milliseconds firstRetry = 1ms)
{
    return {.callTimeout = 1000ms, .firstRetry = firstRetry, .longestRetry = 4 * firstRetry};
}

// The first call of `method` meets `fault`; then the manager starts.
void startWithFault(BluezTest& t, const char* method, Fault fault,
                    bluez::RegistrationTiming timing = quickRetries())
{
    t.startFake();
    // Late: answered well after the caller gave up, still registering meanwhile.
    t.fake->injectFault(QString::fromLatin1(method), fault, 2 * timing.callTimeout);
    t.startManager(std::nullopt, timing);
}

// Runs `react` (queued) when the double refuses its first call.
void onFirstRejection(BluezTest& t, std::function<void()> react)
{
    QObject::connect(t.fake.get(), &FakeBluez::rejected, t.fake.get(), std::move(react),
                     Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
}

// Runs the event loop for `window`: a wait for nothing to happen.
void idle(std::chrono::milliseconds window)
{
    const QDeadlineTimer deadline(window);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
}

const QString failed = QStringLiteral("org.bluez.Error.Failed");
const QString alreadyExists = QStringLiteral("org.bluez.Error.AlreadyExists");
const QString invalidArguments = QStringLiteral("org.bluez.Error.InvalidArguments");

INSTANTIATE_TEST_SUITE_P(
    Bluez, BluezLifeTest,
    ::testing::Values(
        LifeCase{"PowerCycle",
                 [](BluezTest& t) {
                     t.startRegistered();
                     t.powerCycle();
                 },
                 {on, off, on}, 1, 1, QStringList()},
        LifeCase{"DaemonRestart",
                 [](BluezTest& t) {
                     t.startRegistered();
                     ASSERT_TRUE(t.fake->restart());
                 },
                 {on, none, on}, 2, 2, QStringList()},
        // Nobody asks again: the manager registers what it was asked for.
        LifeCase{"AdapterComesBack",
                 [](BluezTest& t) {
                     t.startRegistered();
                     t.delegate.setUpWhenPoweredOn = false;
                     t.fake->removeAdapter();
                     t.waitForStates(2);
                     t.fake->addAdapter();
                 },
                 {on, none, on}, 2, -1, std::nullopt},
        LifeCase{"AdvertisingManagerAppearsLate",
                 [](BluezTest& t) {
                     t.startFake({true, true, false});
                     t.startManager();
                     ASSERT_TRUE(waitUntil([&] { return t.fake->applications().size() == 1; }));
                     t.roundTrip();
                     t.fake->addAdvertisingManager();
                 },
                 {on}, 1, 1, QStringList()},
        LifeCase{"AlreadyExistsCountsAsRegistered",
                 [](BluezTest& t) {
                     t.startFake();
                     const QDBusConnection connection = t.newConnection();
                     t.fake->preregisterApplication(connection.baseService(), applicationRoot);
                     t.startManager(connection);
                     ASSERT_TRUE(waitUntil([&] { return t.fake->advertisements().size() == 1; }));
                     t.powerCycle();
                 },
                 {on, off, on}, 1, 1, QStringList{QStringLiteral("org.bluez.Error.AlreadyExists")}},
        LifeCase{"AdvertisementReleased",
                 [](BluezTest& t) {
                     t.startRegistered();
                     t.fake->releaseAdvertisements();
                 },
                 {on}, 1, 2, QStringList()},
        // The daemon drops what a client that left the bus had registered.
        LifeCase{"EarlierClientLeftTheBus",
                 [](BluezTest& t) {
                     t.startFake();
                     const QString name = QStringLiteral("bluez-test-leaving");
                     {
                         const QDBusConnection leaving = QDBusConnection::connectToBus(
                             QString::fromStdString(t.bus.address()), name);
                         t.fake->preregisterApplication(leaving.baseService(), applicationRoot);
                     }
                     QDBusConnection::disconnectFromBus(name);
                     ASSERT_TRUE(waitUntil([&] { return t.fake->applications().isEmpty(); }));
                     t.startManager();
                 },
                 {on}, 1, 1, QStringList()},
        // The old adapter goes; the new one comes off, and able to advertise
        // only later.
        LifeCase{"MovesToAnotherAdapter",
                 [](BluezTest& t) {
                     t.startRegistered();
                     t.fake->removeAdapter();
                     t.waitForStates(2);
                     t.fake->setPowered(false);
                     t.fake->removeAdvertisingManager();
                     t.fake->addAdapter(QStringLiteral("/org/bluez/hci1"));
                     t.waitForStates(3);
                     t.fake->addAdvertisingManager();
                     // The manager has seen it all, then the double whatever it sent.
                     t.roundTrip();
                     t.roundTrip();
                     EXPECT_EQ(t.fake->registerApplicationCalls() + t.fake->registerAdvertisementCalls(), 2)
                         << "registered while off";
                     t.fake->setPowered(true);
                 },
                 {on, none, off, on}, 2, 2, QStringList()},
        // A registration that fails for another reason than its arguments is
        // tried again until it holds.
        LifeCase{"ApplicationCallSwallowed",
                 [](BluezTest& t) { startWithFault(t, "RegisterApplication", Fault::swallow); },
                 {on}, 2, 1, QStringList()},
        LifeCase{"AdvertisementCallSwallowed",
                 [](BluezTest& t) { startWithFault(t, "RegisterAdvertisement", Fault::swallow); },
                 {on}, 1, 2, QStringList()},
        LifeCase{"ApplicationCallFailed",
                 [](BluezTest& t) { startWithFault(t, "RegisterApplication", Fault::fail); },
                 {on}, 2, 1, QStringList{failed}},
        LifeCase{"AdvertisementCallFailed",
                 [](BluezTest& t) { startWithFault(t, "RegisterAdvertisement", Fault::fail); },
                 {on}, 1, 2, QStringList{failed}},
        LifeCase{"ApplicationAnsweredAfterTheTimeOut",
                 [](BluezTest& t) { startWithFault(t, "RegisterApplication", Fault::late); },
                 {on}, 2, 1, QStringList{alreadyExists}},
        LifeCase{"AdvertisementAnsweredAfterTheTimeOut",
                 [](BluezTest& t) { startWithFault(t, "RegisterAdvertisement", Fault::late); },
                 {on}, 1, 2, QStringList{alreadyExists}},
        // Refused arguments would be refused again: only the next powered-on
        // report tries once more.
        LifeCase{"RefusedArgumentsWaitForTheNextPowerOn",
                 [](BluezTest& t) {
                     startWithFault(t, "RegisterAdvertisement", Fault::refuse);
                     ASSERT_TRUE(waitUntil([&] { return t.fake->rejections().size() == 1; }));
                     idle(100ms);
                     EXPECT_EQ(t.fake->registerAdvertisementCalls(), 1);
                     t.powerCycle();
                 },
                 {on, off, on}, 1, 2, QStringList{invalidArguments}},
        // The call times out after the adapter went off: no retries until
        // it comes on again, and then one at once.
        LifeCase{"NoRetriesWhileTheAdapterIsOff",
                 [](BluezTest& t) {
                     const bluez::RegistrationTiming timing{.callTimeout = 300ms, .firstRetry = 1ms};
                     startWithFault(t, "RegisterAdvertisement", Fault::swallow, timing);
                     ASSERT_TRUE(waitUntil([&] { return t.fake->registerAdvertisementCalls() == 1; }));
                     t.fake->setPowered(false);
                     t.waitForStates(2);
                     idle(timing.callTimeout + 200ms);
                     EXPECT_EQ(t.fake->registerAdvertisementCalls(), 1);
                     t.fake->setPowered(true);
                 },
                 {on, off, on}, 1, 2, QStringList()},
        // The new daemon holds nothing of ours: registered at once, and the
        // old daemon's back-off is gone.
        LifeCase{"DaemonLeavesWhileBackingOff",
                 [](BluezTest& t) {
                     startWithFault(t, "RegisterApplication", Fault::fail, quickRetries(10min));
                     onFirstRejection(t, [&t] { EXPECT_TRUE(t.fake->restart()); });
                 },
                 {on, none, on}, 2, -1, QStringList{failed}}),
    [](const auto& info) { return std::string(info.param.name); });

struct WriteCase {
    const char* name;
    QByteArray value;
    QVariantMap options;
    std::string central;
};

void PrintTo(const WriteCase& c, std::ostream* out) { *out << c.name; }

class BluezWriteTest : public BluezTest, public ::testing::WithParamInterface<WriteCase> {};

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
    EXPECT_EQ(request.characteristic, RecordingDelegate::characteristic());
    EXPECT_EQ(request.value, Bytes(c.value.begin(), c.value.end()));
    EXPECT_FALSE(delegate.reentered);
}

INSTANTIATE_TEST_SUITE_P(
    Bluez, BluezWriteTest,
    ::testing::Values(
        WriteCase{"Update", QByteArray::fromHex("0a0608011002180320012a00"), FakeBluez::requestOptions(),
                  FakeBluez::devicePath.toStdString()},
        WriteCase{"Empty", QByteArray(), FakeBluez::requestOptions(otherDevice), otherDevice.toStdString()},
        WriteCase{"DeviceAsString", QByteArray("\x01", 1), QVariantMap{{QStringLiteral("device"), otherDevice}}, ""},
        WriteCase{"NoOptions", QByteArray("\x03", 1), QVariantMap(), ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct ReadCase {
    const char* name;
    QVariantMap options;
    std::optional<ATTResult> result;
    std::optional<Bytes> value;
    std::size_t offset;
    const char* reply; // the bytes answered, or the error's name
};

void PrintTo(const ReadCase& c, std::ostream* out) { *out << c.name; }

class BluezReadTest : public BluezTest, public ::testing::WithParamInterface<ReadCase> {};

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
    EXPECT_EQ(delegate.reads[0].characteristic, RecordingDelegate::characteristic());
    EXPECT_FALSE(delegate.reads[0].value.has_value());
    const bool bytes = reply->type() == QDBusMessage::ReplyMessage && reply->signature() == QLatin1String("ay");
    EXPECT_EQ(bytes ? QString::fromLatin1(reply->arguments().at(0).toByteArray()) : reply->errorName(),
              QString::fromLatin1(c.reply));
}

QVariantMap options(const QVariant& offset = {})
{
    QVariantMap options = FakeBluez::requestOptions();
    if (offset.isValid())
        options.insert(QStringLiteral("offset"), offset);
    return options;
}

INSTANTIATE_TEST_SUITE_P(
    Bluez, BluezReadTest,
    ::testing::Values(
        ReadCase{"Value", options(), ATTResult::success, hello, 0, "Hello, Central!"},
        // The whole value at any offset: the link decides what a read returns.
        ReadCase{"AtOffset", options(QVariant::fromValue(quint16(5))), ATTResult::success, hello, 5, "Hello, Central!"},
        ReadCase{"OffsetNotANumber", options(QStringLiteral("5")), ATTResult::success, hello, 0, "Hello, Central!"},
        ReadCase{"NoValueSet", options(), ATTResult::success, std::nullopt, 0, ""},
        ReadCase{"Unanswered", options(), std::nullopt, hello, 0, "org.bluez.Error.Failed"},
        ReadCase{"NotPermitted", options(), ATTResult::readNotPermitted, hello, 0, "org.bluez.Error.NotPermitted"},
        ReadCase{"UnlikelyError", options(), ATTResult::unlikelyError, hello, 0, "org.bluez.Error.Failed"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BluezTest, SendsNoReplyToAWriteWithoutResponse)
{
    startRegistered();
    // dbus-monitor sees every reply, also those the bus then drops because
    // nobody asked for them; the bus takes its name away once it monitors.
    QProcess monitor;
    monitor.start(QStringLiteral("dbus-monitor"),
                  {QStringLiteral("--address"), QString::fromStdString(bus.address()), QStringLiteral("--profile"),
                   QStringLiteral("type='method_return'"), QStringLiteral("type='error'")});
    QString seen;
    auto count = [&](const QString& pattern) {
        seen += QString::fromLatin1(monitor.readAllStandardOutput());
        return seen.count(QRegularExpression(pattern, QRegularExpression::MultilineOption));
    };
    ASSERT_TRUE(waitUntil([&] { return count(QStringLiteral("\\tNameLost$")) > 0; }));
    // Lines are: type, time, serial, sender, destination, ...
    const QString route = QRegularExpression::escape(managerBus.baseService() + QLatin1Char('\t') + fake->uniqueName());
    auto replies = [&](const char* type) {
        return count(QStringLiteral("^%1\\t[^\\t]*\\t[^\\t]*\\t%2\\t").arg(QLatin1String(type), route));
    };
    // Once the write has reached the delegate, an unanswered read: its error
    // reply is the marker that everything we sent before it has been seen.
    delegate.readResult = std::nullopt;
    ASSERT_TRUE(fake->writeValue(QByteArray("\x0a\x00", 2), FakeBluez::requestOptions()));
    ASSERT_TRUE(waitUntil([&] { return delegate.writes.size() == 1; }));
    ASSERT_TRUE(fake->readValue(FakeBluez::requestOptions(), [](const QDBusMessage&) {}));
    ASSERT_TRUE(waitUntil([&] { return replies("err") == 1; }));
    EXPECT_EQ(replies("mr"), 0);
    monitor.kill();
    monitor.waitForFinished(5000);
}

// Calls are taken off the bus at once, whatever the link does with them:
// the writes reach the delegate in order right after, and a read is answered
// without waiting for the writes queued before it.
TEST_F(BluezTest, WritesReachTheDelegateInOrderAndReadsDoNotWaitForThem)
{
    startRegistered();
    delegate.writeCost = std::chrono::milliseconds(2);
    constexpr int count = 200; // 400 ms of the delegate's time
    for (int i = 0; i < count; ++i)
        ASSERT_TRUE(fake->writeValue(QByteArray(1, static_cast<char>(i)), FakeBluez::requestOptions()));
    std::optional<QDBusMessage> reply;
    ASSERT_TRUE(fake->readValue(FakeBluez::requestOptions(), [&](const QDBusMessage& answer) { reply = answer; }));
    ASSERT_TRUE(waitUntil([&] { return reply.has_value() && delegate.writes.size() == count; }));
    EXPECT_EQ(reply->type(), QDBusMessage::ReplyMessage);
    EXPECT_LT(delegate.writesBeforeRead, std::size_t{count}) << "the read waited for every write before it";
    for (int i = 0; i < count; ++i) {
        ASSERT_EQ(delegate.writes[i].size(), 1u);
        EXPECT_EQ(delegate.writes[i][0].value, Bytes{static_cast<std::uint8_t>(i)}) << "write " << i;
    }
}

// A write that finds none waiting reaches the link within its call, through
// the platform's turn, so that what it makes due can run right after it.
TEST_F(BluezTest, ALoneWriteReachesTheLinkWithinItsCallThroughThePlatformsTurn)
{
    bool inTurn = false;
    int turns = 0;
    std::vector<bool> writesInTurn;
    writeTurn = [&](const std::function<void()>& deliver) {
        ++turns;
        inTurn = true;
        deliver();
        inTurn = false;
    };
    delegate.onWrite = [&] { writesInTurn.push_back(inTurn); };
    startRegistered();
    ASSERT_TRUE(fake->writeValue(QByteArray("\x0a\x00", 2), FakeBluez::requestOptions()));
    ASSERT_TRUE(waitUntil([&] { return delegate.writes.size() == 1; }));
    EXPECT_EQ(writesInTurn, std::vector<bool>{true});
    EXPECT_EQ(turns, 1);
}

// BlueZ awaits no answer to a write without response, but one that is
// awaited comes once the delegate has had the write.
TEST_F(BluezTest, AWriteThatAwaitsAnAnswerGetsItOnceDelivered)
{
    startRegistered();
    QDBusMessage call = QDBusMessage::createMethodCall(managerBus.baseService(),
                                                       fake->applications().front().characteristics.front().path,
                                                       QStringLiteral("org.bluez.GattCharacteristic1"),
                                                       QStringLiteral("WriteValue"));
    call.setArguments({QByteArray("\x01", 1), FakeBluez::requestOptions()});
    QDBusConnection daemon = fake->connection();
    const QDBusMessage reply = callAndWait(daemon, call);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_EQ(delegate.writes.size(), 1u);
}

// Strangers are refused, the daemon's calls with the wrong arguments fail,
// and neither reaches the delegate.
TEST_F(BluezTest, CallsFromStrangersOrWithWrongArgumentsReachNothing)
{
    startRegistered();
    QDBusConnection stranger = newConnection();
    QDBusConnection daemon = fake->connection();
    const QString characteristic = fake->applications().front().characteristics.front().path;
    const QString advertisement = fake->advertisements().front().path;
    const QString properties = QStringLiteral("org.freedesktop.DBus.Properties");
    const QString gatt = QStringLiteral("org.bluez.GattCharacteristic1");
    const QString advertising = QStringLiteral("org.bluez.LEAdvertisement1");
    const QVariantMap options = FakeBluez::requestOptions();
    const QByteArray one("\x01", 1);
    const std::vector<std::tuple<QDBusConnection*, QString, QString, QString, QList<QVariant>>> calls{
        {&stranger, applicationRoot, QStringLiteral("org.freedesktop.DBus.ObjectManager"),
         QStringLiteral("GetManagedObjects"), {}},
        {&stranger, fake->applications().front().services.front().path, properties, QStringLiteral("GetAll"),
         {QStringLiteral("org.bluez.GattService1")}},
        {&stranger, characteristic, properties, QStringLiteral("Get"), {gatt, QStringLiteral("UUID")}},
        {&stranger, characteristic, gatt, QStringLiteral("ReadValue"), {options}},
        {&stranger, characteristic, gatt, QStringLiteral("WriteValue"), {one, options}},
        {&stranger, advertisement, properties, QStringLiteral("GetAll"), {advertising}},
        {&stranger, advertisement, advertising, QStringLiteral("Release"), {}},
        {&daemon, characteristic, gatt, QStringLiteral("WriteValue"), {}},
        {&daemon, characteristic, gatt, QStringLiteral("WriteValue"), {one, QStringLiteral("options")}},
        {&daemon, characteristic, gatt, QStringLiteral("WriteValue"), {options, one}},
        {&daemon, characteristic, gatt, QStringLiteral("ReadValue"), {one}},
        {&daemon, characteristic, gatt, QStringLiteral("ReadValue"), {options, options}},
    };
    for (const auto& [from, path, interface, member, arguments] : calls) {
        QDBusMessage message = QDBusMessage::createMethodCall(managerBus.baseService(), path, interface, member);
        message.setArguments(arguments);
        SCOPED_TRACE(member.toStdString() + " " + message.signature().toStdString());
        from->send(message); // also when the caller does not wait for an answer
        const QDBusMessage reply = callAndWait(*from, message);
        EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage);
        if (from == &stranger) {
            EXPECT_EQ(reply.errorName(), QStringLiteral("org.bluez.Error.NotAuthorized"));
        }
    }
    roundTrip();
    EXPECT_TRUE(delegate.reads.empty());
    EXPECT_TRUE(delegate.writes.empty());
    EXPECT_EQ(fake->registerAdvertisementCalls(), 1) << "a stranger's Release() was taken";
}

} // namespace
} // namespace zt::test
