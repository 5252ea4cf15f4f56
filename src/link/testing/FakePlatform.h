#pragma once

#include "link/platform/Platform.h"
#include "link/testing/FakeMainQueue.h"
#include "link/testing/RecordingPointer.h"
#include "link/testing/ScriptedPeripheralManager.h"

#include <memory>

namespace zt::testing {

// The three fakes behind one Platform. The peripheral manager belongs to
// whoever asked for it; manager() is the latest one, valid while that owner
// keeps it.
class FakePlatform : public Platform {
public:
    MainQueue& mainQueue() override { return queue; }
    PointerEvents& pointerEvents() override { return pointer; }
    std::unique_ptr<PeripheralManager> makePeripheralManager(PeripheralManagerDelegate& delegate) override;

    ScriptedPeripheralManager* manager() const { return manager_; }

    FakeMainQueue queue;
    RecordingPointer pointer;

private:
    ScriptedPeripheralManager* manager_ = nullptr;
};

} // namespace zt::testing
