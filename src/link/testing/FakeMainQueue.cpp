#include "link/testing/FakeMainQueue.h"

#include <algorithm>
#include <cstdlib>

namespace zt::testing {
namespace {

struct FakeTimer : Timer {
    explicit FakeTimer(std::shared_ptr<bool> flag) : invalidated(std::move(flag)) {}
    void invalidate() override { *invalidated = true; }
    std::shared_ptr<bool> invalidated;
};

} // namespace

FakeMainQueue::~FakeMainQueue()
{
    // Work items may own objects whose destructors hand over more work;
    // take the items out first so the map is not touched while it dies.
    auto items = std::move(items_);
    items_.clear();
}

void FakeMainQueue::asyncAfter(MonoTime deadline, std::function<void()> work)
{
    items_.emplace(std::pair{deadline, nextSequence_++}, Item{std::move(work), nullptr});
}

std::shared_ptr<Timer> FakeMainQueue::scheduledTimer(std::chrono::duration<double> interval,
                                                     std::function<void()> block)
{
    auto invalidated = std::make_shared<bool>(false);
    const MonoTime deadline = now_ + std::chrono::round<MonoTime>(interval);
    items_.emplace(std::pair{deadline, nextSequence_++}, Item{std::move(block), invalidated});
    return std::make_shared<FakeTimer>(std::move(invalidated));
}

void FakeMainQueue::advance(MonoTime duration)
{
    if (advancing_)
        std::abort();
    advancing_ = true;
    const MonoTime until = now_ + duration;
    while (!items_.empty() && items_.begin()->first.first <= std::max(until, now_)) {
        auto node = items_.extract(items_.begin());
        now_ = std::max(now_, node.key().first);
        // A one-shot timer is spent once it fired.
        if (node.mapped().invalidated && std::exchange(*node.mapped().invalidated, true))
            continue;
        ++ran_;
        node.mapped().work();
    }
    now_ = std::max(now_, until);
    advancing_ = false;
}

} // namespace zt::testing
