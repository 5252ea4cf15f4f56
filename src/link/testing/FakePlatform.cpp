#include "link/testing/FakePlatform.h"

namespace zt::testing {

FakePlatform::~FakePlatform()
{
    if (manager_)
        manager_->onDestroyed = nullptr;
}

std::unique_ptr<PeripheralManager> FakePlatform::makePeripheralManager(PeripheralManagerDelegate& delegate)
{
    if (manager_)
        manager_->onDestroyed = nullptr;
    auto manager = std::make_unique<ScriptedPeripheralManager>(delegate, initialState);
    manager->onDestroyed = [this] { manager_ = nullptr; };
    manager_ = manager.get();
    return manager;
}

} // namespace zt::testing
