#pragma once

#include "link/platform/MainQueue.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>

namespace zt::testing {

// A main queue on a virtual clock. Nothing runs until advance() is called;
// it then runs every item (work items and timers alike) whose deadline falls
// within the window, in deadline order, ties in the order handed over,
// including items that those items hand over.
class FakeMainQueue : public MainQueue {
public:
    ~FakeMainQueue() override;

    MonoTime now() const override { return now_; }
    void asyncAfter(MonoTime deadline, std::function<void()> work) override;
    std::shared_ptr<Timer> scheduledTimer(std::chrono::duration<double> interval,
                                          std::function<void()> block) override;

    // Moves the clock forward by `duration`, running what falls due. Aborts
    // when called from inside an item: that would break the order.
    void advance(MonoTime duration);
    // The main thread is busy elsewhere for `duration`: the clock moves on
    // and nothing runs, so what falls due meanwhile runs late. From inside
    // an item, that item takes this long; what falls due meanwhile still
    // runs within the advance() in progress.
    void stall(MonoTime duration) { now_ += duration; }

    std::size_t ranCount() const { return ran_; }

private:
    struct Item {
        std::function<void()> work;
        std::shared_ptr<bool> invalidated; // timers only
    };

    MonoTime now_{0};
    std::uint64_t nextSequence_ = 0;
    std::map<std::pair<MonoTime, std::uint64_t>, Item> items_; // by deadline, then order handed over
    std::size_t ran_ = 0;
    bool advancing_ = false;
};

} // namespace zt::testing
