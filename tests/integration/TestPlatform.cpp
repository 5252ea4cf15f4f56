#include "integration/TestPlatform.h"

#include "backends/bluez/BluezPeripheralManager.h"

namespace zt::test {

TestPlatform::TestPlatform(const std::string& displayName, const QString& busAddress,
                           std::chrono::microseconds postCost)
    : busName_(QStringLiteral("integration-link-%1").arg(reinterpret_cast<quintptr>(this))),
      bus_(QDBusConnection::connectToBus(busAddress, busName_)), x11_(displayName), pointer_(x11_, postCost)
{
}

TestPlatform::~TestPlatform()
{
    queue_.reset();
    QDBusConnection::disconnectFromBus(busName_);
}

std::unique_ptr<PeripheralManager> TestPlatform::makePeripheralManager(PeripheralManagerDelegate& delegate)
{
    return std::make_unique<BluezPeripheralManager>(
        delegate, bus_, bluez::RegistrationTiming{},
        [this](const std::function<void()>& deliver) { queue_->runInTurn(deliver); });
}

} // namespace zt::test
