#include "backends/bluez/BluezPeripheralManager.h"

#include "backends/bluez/AdapterWatcher.h"
#include "backends/bluez/AdvertisementObject.h"
#include "backends/bluez/AttRequestRouter.h"
#include "backends/bluez/BluezDBusTypes.h"
#include "backends/bluez/BluezNames.h"
#include "backends/bluez/CallerGate.h"
#include "backends/bluez/GattApplication.h"
#include "backends/bluez/Registration.h"

#include <QtDebug>

#include <algorithm>
#include <utility>

namespace zt {
namespace {

const QString applicationRoot = QStringLiteral("/org/zimtorva/companion");
// Outside the application's tree: that tree is what the daemon reads as GATT.
const QString advertisementPath = QStringLiteral("/org/zimtorva/advertisement0");

bool sameCharacteristic(const CharacteristicDescription& a, const CharacteristicDescription& b)
{
    return a.uuid == b.uuid && a.properties == b.properties && a.value == b.value && a.permissions == b.permissions;
}

bool sameService(const ServiceDescription& a, const ServiceDescription& b)
{
    return a.uuid == b.uuid && a.primary == b.primary &&
           std::equal(a.characteristics.begin(), a.characteristics.end(), b.characteristics.begin(),
                      b.characteristics.end(), sameCharacteristic);
}

bool sameAdvertisement(const AdvertisementData& a, const AdvertisementData& b)
{
    return a.localName == b.localName && a.serviceUUIDs == b.serviceUUIDs;
}

} // namespace

BluezPeripheralManager::BluezPeripheralManager(PeripheralManagerDelegate& delegate, QDBusConnection bus,
                                               bluez::RegistrationTiming timing, bluez::WriteTurn writeTurn)
    : delegate_(delegate), bus_(std::move(bus)), gate_(std::make_unique<bluez::CallerGate>()),
      router_(std::make_unique<bluez::AttRequestRouter>(*this, delegate, std::move(writeTurn))),
      applicationRegistration_(std::make_unique<bluez::Registration>(
          bus_, QString::fromLatin1(bluez::names::gattManager), QStringLiteral("RegisterApplication"),
          QStringLiteral("UnregisterApplication"), applicationRoot, timing, [this] { update(); })),
      advertisementRegistration_(std::make_unique<bluez::Registration>(
          bus_, QString::fromLatin1(bluez::names::advertisingManager), QStringLiteral("RegisterAdvertisement"),
          QStringLiteral("UnregisterAdvertisement"), advertisementPath, timing, [this] { update(); }))
{
    bluez::registerDBusTypes();
    watcher_ = std::make_unique<bluez::AdapterWatcher>(bus_);
    QObject::connect(watcher_.get(), &bluez::AdapterWatcher::changed, &context_, [this] { update(); });
    // Known at once when there is no bus; reported later all the same.
    update();
}

BluezPeripheralManager::~BluezPeripheralManager() = default;

void BluezPeripheralManager::add(const ServiceDescription& service)
{
    if (!application_) {
        application_ = std::make_unique<bluez::GattApplication>(bus_, applicationRoot, service, *gate_, *router_);
    } else if (!sameService(application_->description(), service)) {
        // The link has one service; asking for another is a programming error.
        qWarning("Bluetooth: only one service is supported; the new one is ignored");
        return;
    }
    // Asked again (the adapter came back on): registers only if the daemon
    // does not hold the application yet.
    applicationRegistration_->retry();
    update();
}

void BluezPeripheralManager::startAdvertising(const AdvertisementData& advertisement)
{
    if (!advertisement_) {
        advertisement_ = std::make_unique<bluez::AdvertisementObject>(bus_, advertisementPath, advertisement, *gate_,
                                                                      [this] {
                                                                          advertisementRegistration_->forget();
                                                                          update();
                                                                      });
    } else if (!sameAdvertisement(advertisement_->data(), advertisement)) {
        qWarning("Bluetooth: only one advertisement is supported; the new one is ignored");
        return;
    }
    advertisementRegistration_->retry();
    update();
}

void BluezPeripheralManager::respond(const ATTRequest& request, ATTResult result) { router_->respond(request, result); }

void BluezPeripheralManager::setDesiredConnectionLatency(ConnectionLatency, const Central&) {}

void BluezPeripheralManager::update()
{
    const QString owner = watcher_->owner();
    gate_->trust(owner);

    const std::optional<bluez::AdapterWatcher::Adapter> adapter = watcher_->adapter();
    const QString adapterPath = adapter ? adapter->path : QString();
    // A new daemon or another adapter holds none of our registrations.
    if (owner != registeredOwner_ || adapterPath != registeredAdapter_) {
        applicationRegistration_->forget();
        advertisementRegistration_->forget();
        registeredOwner_ = owner;
        registeredAdapter_ = adapterPath;
    }
    if (!adapter || !adapter->gattManager)
        applicationRegistration_->forget();
    if (!adapter || !adapter->advertisingManager)
        advertisementRegistration_->forget();

    if (adapter && adapter->powered) {
        if (application_ && application_->exported() && adapter->gattManager)
            applicationRegistration_->ensure(owner, adapter->path);
        if (advertisement_ && advertisement_->exported() && adapter->advertisingManager)
            advertisementRegistration_->ensure(owner, adapter->path);
    } else {
        // Tried again on the next powered-on report, from the start.
        applicationRegistration_->stopRetrying();
        advertisementRegistration_->stopRetrying();
    }

    if (const std::optional<ManagerState> current = watcher_->state())
        queueReport(*current);
}

void BluezPeripheralManager::queueReport(ManagerState state)
{
    if (lastQueued_ == state)
        return;
    lastQueued_ = state;
    reports_.push_back(state);
    if (deliveryScheduled_)
        return;
    // Never from inside our constructor or a call the delegate made.
    deliveryScheduled_ = true;
    QMetaObject::invokeMethod(&context_, [this] { deliverReports(); }, Qt::QueuedConnection);
}

void BluezPeripheralManager::deliverReports()
{
    deliveryScheduled_ = false;
    while (!reports_.empty()) {
        state_ = reports_.front();
        reports_.pop_front();
        delegate_.peripheralManagerDidUpdateState(*this);
    }
}

} // namespace zt
