#include "integration/TestPlatform.h"

#include "backends/bluez/BluezPeripheralManager.h"

#include <atomic>

namespace zt::test {
namespace {

QString nextConnectionName()
{
    static std::atomic<int> count{0};
    return QStringLiteral("integration-link-%1").arg(++count);
}

} // namespace

TestPlatform::NamedConnection::NamedConnection(const QString& address, const QString& name)
    : name(name), connection(QDBusConnection::connectToBus(address, name))
{
}

TestPlatform::NamedConnection::~NamedConnection() { QDBusConnection::disconnectFromBus(name); }

TestPlatform::TestPlatform(const std::string& displayName, const QString& busAddress)
    : bus_(busAddress, nextConnectionName()), x11_(displayName), pointer_(x11_)
{
}

std::unique_ptr<PeripheralManager> TestPlatform::makePeripheralManager(PeripheralManagerDelegate& delegate)
{
    return std::make_unique<BluezPeripheralManager>(delegate, bus_.connection);
}

} // namespace zt::test
