#include "backends/LinuxPlatform.h"

#include "backends/bluez/BluezPeripheralManager.h"
#include "backends/qt/QtMainQueue.h"
#include "backends/x11/X11PointerEvents.h"

#include <QDBusConnection>

namespace zt {
namespace {

class LinuxPlatform final : public Platform {
public:
    MainQueue& mainQueue() override { return queue_; }
    PointerEvents& pointerEvents() override { return pointer_; }

    std::unique_ptr<PeripheralManager> makePeripheralManager(PeripheralManagerDelegate& delegate) override
    {
        // libdbus honours DBUS_SYSTEM_BUS_ADDRESS, which is how the
        // end-to-end tests point the application at a private bus. A lone
        // write's first move runs right after its call, in the same turn.
        return std::make_unique<BluezPeripheralManager>(
            delegate, QDBusConnection::systemBus(), bluez::RegistrationTiming{},
            [this](const std::function<void()>& deliver) { queue_.runInTurn(deliver); });
    }

private:
    QtMainQueue queue_;
    X11PointerEvents pointer_;
};

} // namespace

std::unique_ptr<Platform> makeLinuxPlatform() { return std::make_unique<LinuxPlatform>(); }

} // namespace zt
