#include "link/testing/FakePlatform.h"

namespace zt::testing {

std::unique_ptr<PeripheralManager> FakePlatform::makePeripheralManager(PeripheralManagerDelegate& delegate)
{
    auto manager = std::make_unique<ScriptedPeripheralManager>(delegate);
    manager_ = manager.get();
    return manager;
}

} // namespace zt::testing
