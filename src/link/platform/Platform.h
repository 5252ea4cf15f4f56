#pragma once

#include "link/platform/MainQueue.h"
#include "link/platform/PeripheralManager.h"
#include "link/platform/PointerEvents.h"

#include <memory>

namespace zt {

// What the link needs of the machine it runs on. The real backends and the
// test fakes each provide one; nothing in the link names a concrete backend.
class Platform {
public:
    virtual ~Platform() = default;
    virtual MainQueue& mainQueue() = 0;
    virtual PointerEvents& pointerEvents() = 0;
    // The manager reports the adapter state later, through the delegate.
    virtual std::unique_ptr<PeripheralManager> makePeripheralManager(PeripheralManagerDelegate& delegate) = 0;
};

} // namespace zt
