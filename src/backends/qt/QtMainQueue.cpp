#include "backends/qt/QtMainQueue.h"

#include <QAbstractEventDispatcher>

#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>

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
    // The clock of std::chrono::steady_clock, so deadlines need no conversion.
    : timerFd_(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC))
{
    if (timerFd_ < 0)
        throw std::system_error(errno, std::generic_category(), "QtMainQueue: timerfd_create");
    wakeup_ = std::make_unique<QSocketNotifier>(timerFd_, QSocketNotifier::Read);
    QObject::connect(wakeup_.get(), &QSocketNotifier::activated, wakeup_.get(), [this] {
        // The timer is spent; reading it clears the notifier's readiness.
        std::uint64_t expirations = 0;
        [[maybe_unused]] const ssize_t got = read(timerFd_, &expirations, sizeof expirations);
        armedFor_.reset();
        dispatch();
    });
    // An event loop about to wait inside a turn: what fell due cannot wait
    // for the turn to close.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) {
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, wakeup_.get(), [this] {
            if (std::exchange(roundAtTurnEnd_, false))
                postRound();
        });
    }
}

QtMainQueue::~QtMainQueue()
{
    wakeup_.reset();
    close(timerFd_);
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
    // An item that spins a nested event loop must not have others run
    // inside it, least of all what it has just handed over; the round it
    // is part of goes on once it returns.
    if (dispatching_)
        return;
    // Only what was handed over before this round may run in it: work that
    // keeps handing over due work must not starve the rest of the event
    // loop. Stopping at such an item, or when the slice is used up, rather
    // than skipping anything keeps the order; the next round comes once the
    // event loop has served everything else that is waiting.
    const MonoTime start = now();
    const std::uint64_t limit = nextSeq_;
    MonoTime current = start;
    dispatching_ = true;
    while (!items_->empty()) {
        const auto first = items_->begin();
        if (first->first.first > current || first->first.second >= limit)
            break;
        auto node = items_->extract(first);
        node.mapped()();
        current = now();
        if (current - start >= timeSlice)
            break;
    }
    dispatching_ = false;
    arm();
}

void QtMainQueue::arm()
{
    if (items_->empty())
        return; // a wakeup still set for a dropped timer finds nothing due
    const MonoTime deadline = items_->begin()->first.first;
    if (deadline <= now()) {
        if (turns_ > 0)
            roundAtTurnEnd_ = true;
        else
            postRound();
        return;
    }
    if (armedFor_ == deadline)
        return;
    // An absolute time, so the wakeup never comes before the deadline (one
    // that passes meanwhile fires at once).
    itimerspec spec{};
    spec.it_value.tv_sec = static_cast<time_t>(deadline.count() / 1'000'000'000);
    spec.it_value.tv_nsec = static_cast<long>(deadline.count() % 1'000'000'000);
    if (timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &spec, nullptr) == 0)
        armedFor_ = deadline;
}

void QtMainQueue::postRound()
{
    // A round as a posted event, which needs no kernel timer and comes after
    // the events posted before it (the bus's calls among them).
    if (roundPosted_)
        return;
    roundPosted_ = true;
    QMetaObject::invokeMethod(
        wakeup_.get(),
        [this] {
            roundPosted_ = false;
            dispatch();
        },
        Qt::QueuedConnection);
}

void QtMainQueue::runInTurn(const std::function<void()>& work)
{
    struct Turn {
        QtMainQueue& queue;
        explicit Turn(QtMainQueue& q) : queue(q) { ++queue.turns_; }
        // Behind a round already on its way (a backlog, as in a burst),
        // what fell due waits for that round, in its order, and the rest
        // of the event loop keeps its turn. Inside a round (a nested event
        // loop in an item) nothing runs here: that round re-arms once it
        // ends.
        ~Turn()
        {
            if (--queue.turns_ == 0 && std::exchange(queue.roundAtTurnEnd_, false) && !queue.roundPosted_)
                queue.dispatch();
        }
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;
    };
    const Turn turn(*this);
    work();
}

} // namespace zt
