#pragma once

#include "link/platform/MainQueue.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace zt::testing {

// A main queue on a virtual clock. Nothing runs until advance() is called;
// it then runs every item (work items and timers alike) whose deadline falls
// within the window, in deadline order, ties in the order handed over,
// including items that those items hand over.
class FakeMainQueue : public MainQueue {
public:
    struct Pending {
        MonoTime deadline;
        bool timer;
    };

    FakeMainQueue() = default;
    FakeMainQueue(const FakeMainQueue&) = delete;
    FakeMainQueue& operator=(const FakeMainQueue&) = delete;
    ~FakeMainQueue() override;

    MonoTime now() const override;
    void asyncAfter(MonoTime deadline, std::function<void()> work) override;
    std::shared_ptr<Timer> scheduledTimer(std::chrono::duration<double> interval,
                                          std::function<void()> block) override;

    // Moves the clock forward by `duration`, running what falls due. Not to
    // be called from inside an item (it aborts): that would break the order.
    void advance(MonoTime duration);
    // Runs what is due now without moving the clock.
    void runDue() { advance(MonoTime::zero()); }

    // Each read of now() moves the clock on by `step`, as if the code under
    // test took that long between reads. Zero (the default) freezes it.
    void setClockStepPerRead(MonoTime step) { stepPerRead_ = step; }

    // Items not yet run, invalidated timers left out, in running order.
    std::vector<Pending> pending() const;
    std::size_t ranCount() const { return ran_; }

private:
    struct Item {
        MonoTime deadline;
        std::uint64_t sequence;
        std::function<void()> work;
        std::shared_ptr<bool> invalidated; // timers only
    };
    class FakeTimer;

    void push(Item item);

    mutable MonoTime now_{0};
    MonoTime stepPerRead_{0};
    std::uint64_t nextSequence_ = 0;
    std::vector<Item> heap_;
    std::size_t ran_ = 0;
    bool advancing_ = false;
};

} // namespace zt::testing
