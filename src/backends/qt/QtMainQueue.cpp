#include "backends/qt/QtMainQueue.h"

#include <algorithm>
#include <climits>

namespace zt {

// A handle to one entry of the queue's list. Invalidating drops the entry,
// and with it the block and whatever the block holds.
class QtMainQueue::QueueTimer final : public Timer {
public:
    QueueTimer() = default;
    QueueTimer(std::weak_ptr<Items> items, Key key) : items_(std::move(items)), key_(key) {}

    void invalidate() override
    {
        if (auto items = items_.lock()) {
            // Released only once the list is consistent again: the block's
            // captures may own things that call back into the queue.
            auto dropped = items->extract(key_);
        }
    }

private:
    std::weak_ptr<Items> items_;
    Key key_{};
};

QtMainQueue::QtMainQueue()
{
    wakeup_.setSingleShot(true);
    // Coarse timers may fire 5% early or late; the moves of one Update are
    // meant to go out 10 ms apart.
    wakeup_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&wakeup_, &QTimer::timeout, &wakeup_, [this] { dispatch(); });
}

QtMainQueue::~QtMainQueue()
{
    wakeup_.stop();
    // Dropping a closure may drop the last owner of something that hands
    // the queue more work while it goes; keep the list valid meanwhile.
    while (!items_->empty()) {
        Items doomed;
        doomed.swap(*items_);
    }
}

MonoTime QtMainQueue::now() const
{
    return std::chrono::duration_cast<MonoTime>(std::chrono::steady_clock::now().time_since_epoch());
}

void QtMainQueue::asyncAfter(MonoTime deadline, std::function<void()> work)
{
    if (!work)
        return;
    enqueue(deadline, std::move(work));
}

std::shared_ptr<Timer> QtMainQueue::scheduledTimer(std::chrono::duration<double> interval,
                                                   std::function<void()> block)
{
    if (!block)
        return std::make_shared<QueueTimer>();
    // A NaN or negative interval fires at once; an enormous one is cut to
    // decades so the conversion to integer nanoseconds cannot overflow.
    constexpr double longestSeconds = 1e9;
    MonoTime delay{0};
    if (interval.count() > 0) {
        const std::chrono::duration<double> bounded(std::min(interval.count(), longestSeconds));
        delay = std::chrono::duration_cast<MonoTime>(bounded);
    }
    const Key key = enqueue(now() + delay, std::move(block));
    return std::make_shared<QueueTimer>(items_, key);
}

QtMainQueue::Key QtMainQueue::enqueue(MonoTime deadline, std::function<void()> work)
{
    const Key key{deadline, nextSeq_++};
    items_->emplace(key, std::move(work));
    if (!dispatching_)
        arm();
    return key;
}

void QtMainQueue::dispatch()
{
    // Only what was handed over before this round may run in it: work that
    // keeps handing over due work must not starve the rest of the event
    // loop. Stopping at such an item rather than skipping it keeps the
    // order; the next round starts at once.
    const MonoTime start = now();
    const std::uint64_t limit = nextSeq_;
    dispatching_ = true;
    while (!items_->empty()) {
        const auto first = items_->begin();
        if (first->first.first > start || first->first.second >= limit)
            break;
        auto node = items_->extract(first);
        node.mapped()();
    }
    dispatching_ = false;
    arm();
}

void QtMainQueue::arm()
{
    if (items_->empty()) {
        wakeup_.stop();
        return;
    }
    const MonoTime deadline = items_->begin()->first.first;
    if (wakeup_.isActive() && armedFor_ == deadline)
        return;
    // Compared before subtracting: a deadline far in the past must not
    // overflow. Rounded up to whole milliseconds, the only unit QTimer
    // takes, so the wakeup never comes before the deadline.
    int msec = 0;
    const MonoTime current = now();
    if (deadline > current) {
        const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - current);
        msec = static_cast<int>(std::min<std::chrono::milliseconds::rep>(remaining.count(), INT_MAX));
    }
    armedFor_ = deadline;
    wakeup_.start(msec);
}

} // namespace zt
