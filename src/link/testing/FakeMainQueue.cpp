#include "link/testing/FakeMainQueue.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <utility>

namespace zt::testing {
namespace {

template <typename Item>
bool runsLater(const Item& a, const Item& b)
{
    if (a.deadline != b.deadline)
        return a.deadline > b.deadline;
    return a.sequence > b.sequence;
}

} // namespace

class FakeMainQueue::FakeTimer : public Timer {
public:
    explicit FakeTimer(std::shared_ptr<bool> invalidated) : invalidated_(std::move(invalidated)) {}
    void invalidate() override { *invalidated_ = true; }

private:
    std::shared_ptr<bool> invalidated_;
};

FakeMainQueue::~FakeMainQueue()
{
    // Work items may own objects whose destructors hand over more work;
    // take the items out first so the heap is not touched while it dies.
    std::vector<Item> items = std::move(heap_);
    heap_.clear();
    items.clear();
}

MonoTime FakeMainQueue::now() const
{
    const MonoTime current = now_;
    now_ += stepPerRead_;
    return current;
}

void FakeMainQueue::push(Item item)
{
    heap_.push_back(std::move(item));
    std::push_heap(heap_.begin(), heap_.end(), runsLater<Item>);
}

void FakeMainQueue::asyncAfter(MonoTime deadline, std::function<void()> work)
{
    push(Item{deadline, nextSequence_++, std::move(work), nullptr});
}

std::shared_ptr<Timer> FakeMainQueue::scheduledTimer(std::chrono::duration<double> interval,
                                                     std::function<void()> block)
{
    auto invalidated = std::make_shared<bool>(false);
    const MonoTime deadline = now_ + std::chrono::round<MonoTime>(interval);
    push(Item{deadline, nextSequence_++, std::move(block), invalidated});
    return std::make_shared<FakeTimer>(std::move(invalidated));
}

void FakeMainQueue::advance(MonoTime duration)
{
    // Running items from inside an item would break the ordering promise.
    if (advancing_)
        std::abort();
    advancing_ = true;
    const MonoTime until = now_ + duration;
    while (!heap_.empty() && heap_.front().deadline <= until) {
        std::pop_heap(heap_.begin(), heap_.end(), runsLater<Item>);
        Item item = std::move(heap_.back());
        heap_.pop_back();
        now_ = std::max(now_, item.deadline);
        if (item.invalidated && *item.invalidated)
            continue;
        if (item.invalidated)
            *item.invalidated = true; // a fired one-shot timer is spent
        ++ran_;
        item.work();
    }
    now_ = std::max(now_, until);
    advancing_ = false;
}

std::vector<FakeMainQueue::Pending> FakeMainQueue::pending() const
{
    std::vector<Item const*> live;
    for (const Item& item : heap_)
        if (!item.invalidated || !*item.invalidated)
            live.push_back(&item);
    std::sort(live.begin(), live.end(), [](const Item* a, const Item* b) { return runsLater(*b, *a); });
    std::vector<Pending> result;
    result.reserve(live.size());
    for (const Item* item : live)
        result.push_back(Pending{item->deadline, item->invalidated != nullptr});
    return result;
}

} // namespace zt::testing
