#pragma once

#include "backends/bluez/Registration.h"
#include "link/platform/PeripheralManager.h"

#include <QDBusConnection>
#include <QObject>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace zt {

namespace bluez {
class AdapterWatcher;
class AdvertisementObject;
class AttRequestRouter;
class CallerGate;
class GattApplication;

// Runs `deliver`, which hands one write to the link within its call from
// the bus; the platform may run what the write made due once it returns.
using WriteTurn = std::function<void(const std::function<void()>& deliver)>;
} // namespace bluez

// The peripheral role on BlueZ over D-Bus: exports our GATT application and
// advertisement on `bus`, registers them with the daemon's adapter, and
// follows the daemon and its adapter to report the state. Only the daemon
// (the current owner of org.bluez) may call the exported objects. A
// registration that fails is tried again while the adapter stays on.
class BluezPeripheralManager final : public PeripheralManager {
public:
    BluezPeripheralManager(PeripheralManagerDelegate& delegate, QDBusConnection bus,
                           bluez::RegistrationTiming timing = {}, bluez::WriteTurn writeTurn = {});
    ~BluezPeripheralManager() override;
    BluezPeripheralManager(const BluezPeripheralManager&) = delete;
    BluezPeripheralManager& operator=(const BluezPeripheralManager&) = delete;

    ManagerState state() const override { return state_; }
    void add(const ServiceDescription& service) override;
    void startAdvertising(const AdvertisementData& advertisement) override;
    void respond(const ATTRequest& request, ATTResult result) override;
    // BlueZ offers no call to change a connection's parameters: accepted
    // and dropped.
    void setDesiredConnectionLatency(ConnectionLatency latency, const Central& central) override;

private:
    void update();
    void queueReport(ManagerState state);
    void deliverReports();

    PeripheralManagerDelegate& delegate_;
    QDBusConnection bus_;
    std::unique_ptr<bluez::CallerGate> gate_;
    std::unique_ptr<bluez::AttRequestRouter> router_;
    std::unique_ptr<bluez::GattApplication> application_;
    std::unique_ptr<bluez::AdvertisementObject> advertisement_;
    std::unique_ptr<bluez::Registration> applicationRegistration_;
    std::unique_ptr<bluez::Registration> advertisementRegistration_;
    std::unique_ptr<bluez::AdapterWatcher> watcher_;

    // The daemon and adapter the registrations were made with.
    QString registeredOwner_;
    QString registeredAdapter_;

    ManagerState state_ = ManagerState::unknown; // as last reported
    std::optional<ManagerState> lastQueued_;
    std::deque<ManagerState> reports_;
    bool deliveryScheduled_ = false;
    // Context of queued work: destroyed first, so nothing runs after us.
    QObject context_;
};

} // namespace zt
