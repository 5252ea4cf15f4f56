#pragma once

#include "link/platform/MainQueue.h"

#include <QSocketNotifier>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>

namespace zt {

// The main queue on the Qt event loop of the thread that creates it (the
// main thread); that thread needs a running QCoreApplication for anything
// to run. Work items and timers share one ordered list and one kernel timer
// (a timerfd, to the nanosecond) armed for the earliest deadline still to
// come; the event loop wakes when it fires.
class QtMainQueue final : public MainQueue {
public:
    // One dispatch round runs due items until this much time has passed,
    // then lets the event loop serve everything else before the next round:
    // a burst of due moves must not keep the bus or the tray waiting.
    static constexpr std::chrono::microseconds timeSlice{2000};

    // Throws std::system_error when the kernel gives no timer.
    QtMainQueue();
    ~QtMainQueue() override;
    QtMainQueue(const QtMainQueue&) = delete;
    QtMainQueue& operator=(const QtMainQueue&) = delete;

    MonoTime now() const override;
    void asyncAfter(MonoTime deadline, std::function<void()> work) override;
    std::shared_ptr<Timer> scheduledTimer(std::chrono::duration<double> interval,
                                          std::function<void()> block) override;

    // Runs `work`, for work that hands items over and is the last thing its
    // event does (a write from the watch): the items due by the time it has
    // returned run then, before the event loop goes on, rather than in a
    // round of their own once the loop comes round; unless a round is on its
    // way already (a backlog), which they then join. An event loop nested in
    // `work` still runs them in a round.
    void runInTurn(const std::function<void()>& work);

private:
    // Deadline first, then the order handed over.
    using Key = std::pair<MonoTime, std::uint64_t>;
    using Items = std::map<Key, std::function<void()>>;
    class QueueTimer;

    Key enqueue(MonoTime deadline, std::function<void()> work);
    void dispatch();
    void arm();
    void postRound();

    // Shared so that a timer handle outliving the queue can still be
    // invalidated harmlessly.
    std::shared_ptr<Items> items_ = std::make_shared<Items>();
    std::uint64_t nextSeq_ = 0;
    bool dispatching_ = false;
    // The deadline the kernel timer is set for; nothing while disarmed.
    std::optional<MonoTime> armedFor_;
    bool roundPosted_ = false;
    int turns_ = 0;
    // Items fell due in a turn; a round runs when it closes.
    bool roundAtTurnEnd_ = false;
    int timerFd_ = -1;
    std::unique_ptr<QSocketNotifier> wakeup_;
};

} // namespace zt
