#pragma once

#include "link/platform/Platform.h"
#include "link/testing/FakeMainQueue.h"
#include "link/testing/RecordingPointer.h"
#include "link/testing/ScriptedPeripheralManager.h"

#include <memory>

namespace zt::testing {

// The three fakes behind one Platform. The peripheral manager belongs to
// whoever asked for it; manager() reaches the latest one while it lives.
class FakePlatform : public Platform {
public:
    FakePlatform() = default;
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;
    ~FakePlatform() override;

    MainQueue& mainQueue() override { return queue; }
    PointerEvents& pointerEvents() override { return pointer; }
    std::unique_ptr<PeripheralManager> makePeripheralManager(PeripheralManagerDelegate& delegate) override;

    // Null once the latest manager has been destroyed.
    ScriptedPeripheralManager* manager() const { return manager_; }

    // The state a new manager starts in.
    ManagerState initialState = ManagerState::unknown;

    FakeMainQueue queue;
    RecordingPointer pointer;

private:
    ScriptedPeripheralManager* manager_ = nullptr;
};

} // namespace zt::testing
