#include "backends/qt/QtMainQueue.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

namespace zt {
namespace {

using namespace std::chrono_literals;

// Runs the event loop until `done` holds or `limit` has passed.
bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 2000ms)
{
    QEventLoop loop;
    QTimer poll;
    const QDeadlineTimer deadline(limit, Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || deadline.hasExpired())
            loop.quit();
    });
    poll.start(1);
    if (!done())
        loop.exec();
    return done();
}

void runFor(std::chrono::milliseconds span) { runUntil([] { return false; }, span); }

struct OrderCase {
    std::string name;
    std::vector<int> offsetsUs; // deadlines relative to the moment of handing over, in that order
};

void PrintTo(const OrderCase& c, std::ostream* out) { *out << c.name; }

class QueueOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(QueueOrder, RunsByDeadlineThenHandOverOrderAndNeverEarly)
{
    QtMainQueue queue;
    const auto& offsets = GetParam().offsetsUs;
    const MonoTime base = queue.now();
    std::vector<std::size_t> ran;
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        const MonoTime deadline = base + std::chrono::microseconds(offsets[i]);
        queue.asyncAfter(deadline, [&, i, deadline] {
            ran.push_back(i);
            EXPECT_GE(queue.now(), deadline) << "ran early";
        });
    }
    ASSERT_TRUE(ran.empty());
    ASSERT_TRUE(runUntil([&] { return ran.size() == offsets.size(); }));
    std::vector<std::size_t> expected(offsets.size());
    std::iota(expected.begin(), expected.end(), 0);
    std::stable_sort(expected.begin(), expected.end(),
                     [&](std::size_t a, std::size_t b) { return offsets[a] < offsets[b]; });
    EXPECT_EQ(ran, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Deadlines, QueueOrder,
    ::testing::Values(OrderCase{"AllOverdue", {-5000, -10000, -10000, 0, -1000, -10000}},
                      OrderCase{"AllTied", {0, 0, 0, 0, 0}},
                      OrderCase{"FutureAndOverdueMixed", {20000, 5000, 5000, 0, 15000, -3000, 20000, 1000}},
                      OrderCase{"Descending", {30000, 20000, 10000, 0}},
                      OrderCase{"FramesTenMsApart", {0, 10000, 20000, 30000, 40000, 50000}},
                      // Closer than a millisecond: each still waits for its own deadline.
                      OrderCase{"MicrosecondsApart", {300, 1700, 50, 2050, 999, 1001, 1000, 1, 2}}),
    [](const auto& info) { return info.param.name; });

TEST(QtMainQueue, WorkNeverRunsInsideTheCallThatHandedItOver)
{
    QtMainQueue queue;
    std::vector<std::string> log;
    queue.asyncAfter(queue.now() - 1s, [&] {
        log.push_back("outer begins");
        queue.asyncAfter(MonoTime::min(), [&] { log.push_back("inner"); });
        auto timer = queue.scheduledTimer(0s, [&] { log.push_back("timer"); });
        log.push_back("outer ends");
    });
    EXPECT_TRUE(log.empty());
    ASSERT_TRUE(runUntil([&] { return log.size() == 4; }));
    EXPECT_EQ(log, (std::vector<std::string>{"outer begins", "outer ends", "inner", "timer"}));
}

TEST(QtMainQueue, NothingRunsInsideAnItemThatSpinsANestedEventLoop)
{
    QtMainQueue queue;
    std::vector<std::string> log;
    // The kernel timer is set for "later"; "outer" is due at once.
    const MonoTime later = queue.now() + 1ms;
    queue.asyncAfter(later, [&] { log.push_back("later"); });
    queue.asyncAfter(queue.now(), [&] {
        log.push_back("outer begins");
        queue.asyncAfter(MonoTime::min(), [&] { log.push_back("inner"); });
        while (queue.now() <= later) {
        }
        QCoreApplication::processEvents();
        log.push_back("outer ends");
    });
    ASSERT_TRUE(runUntil([&] { return log.size() == 4; }));
    EXPECT_EQ(log, (std::vector<std::string>{"outer begins", "outer ends", "inner", "later"}));
}

// A write from the watch hands its first move over due at once and is the
// last thing its event does: the move runs as the turn closes, without the
// event loop, yet never inside the work. Behind a backlog (a round on its
// way, as in a burst) it joins that round, in order, and the event loop
// keeps its turn. What is not due yet waits for its time: due in an hour, it
// cannot fall due however slowly the turn runs.
struct TurnCase {
    std::string name;
    bool backlog;
    std::vector<std::string> atClose; // what has run when the turn has closed
};

void PrintTo(const TurnCase& c, std::ostream* out) { *out << c.name; }

class QueueTurn : public ::testing::TestWithParam<TurnCase> {};

TEST_P(QueueTurn, WhatFallsDueInATurnRunsOnceTheWorkHasReturned)
{
    QtMainQueue queue;
    std::vector<std::string> log;
    if (GetParam().backlog)
        queue.asyncAfter(queue.now() - 1ms, [&] { log.push_back("before"); });
    queue.runInTurn([&] {
        queue.asyncAfter(queue.now() + 1h, [&] { log.push_back("later"); });
        queue.asyncAfter(queue.now(), [&] { log.push_back("due"); });
        queue.runInTurn([&] { queue.asyncAfter(queue.now(), [&] { log.push_back("nested"); }); });
        log.push_back("work ends");
    });
    EXPECT_EQ(log, GetParam().atClose);
    std::vector<std::string> all{"work ends", "due", "nested"};
    if (GetParam().backlog)
        all.insert(all.begin() + 1, "before");
    ASSERT_TRUE(runUntil([&] { return log.size() == all.size(); }));
    runFor(20ms);
    EXPECT_EQ(log, all);
}

INSTANTIATE_TEST_SUITE_P(Turns, QueueTurn,
                         ::testing::Values(TurnCase{"Alone", false, {"work ends", "due", "nested"}},
                                           TurnCase{"BehindABacklog", true, {"work ends"}}),
                         [](const auto& info) { return info.param.name; });

// Work that waits in a nested event loop for what it handed over (a dialog,
// say) must not wait for ever: the nested loop runs it.
TEST(QtMainQueue, AnEventLoopNestedInATurnStillRunsWhatFellDue)
{
    QtMainQueue queue;
    bool ran = false;
    bool ranInside = false;
    queue.runInTurn([&] {
        queue.asyncAfter(queue.now(), [&] { ran = true; });
        ranInside = runUntil([&] { return ran; });
    });
    EXPECT_TRUE(ranInside);
}

TEST(QtMainQueue, WorkThatKeepsHandingOverDueWorkDoesNotStarveTheEventLoop)
{
    QtMainQueue queue;
    int chain = 0;
    int chainWhenQtRan = -1;
    // Overdue at once: a round that ran whatever is due would never end.
    std::function<void()> link = [&] {
        if (++chain == 1)
            QTimer::singleShot(0, [&] { chainWhenQtRan = chain; });
        if (chain < 1000)
            queue.asyncAfter(MonoTime{}, link);
    };
    queue.asyncAfter(MonoTime{}, link);
    ASSERT_TRUE(runUntil([&] { return chain == 1000; }, 5000ms));
    EXPECT_GE(chainWhenQtRan, 1);
    EXPECT_LT(chainWhenQtRan, 10);
}

void spin(std::chrono::microseconds span)
{
    const auto until = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < until) {
    }
}

// A burst of overdue items, each taking 100 us, all handed over before the
// loop runs: the event loop gets its turn once a slice is spent, and the
// burst still runs whole, by deadline then hand-over order, across slices.
TEST(QtMainQueue, BurstYieldsToTheEventLoopAfterEachSliceAndKeepsItsOrder)
{
    constexpr auto itemTime = 100us;
    constexpr std::size_t count = 200;
    QtMainQueue queue;
    QObject context;
    std::vector<std::size_t> ran;
    std::vector<std::size_t> ranBeforeQueuedEvent;
    std::vector<MonoTime> deadlines;
    const MonoTime base = queue.now() - 1s;
    for (std::size_t i = 0; i < count; ++i) {
        // Scattered, with ties, all in the past.
        deadlines.push_back(base + std::chrono::microseconds((i * 7919) % 613 / 3));
        queue.asyncAfter(deadlines.back(), [&, i] {
            // Stands for a bus call or a tray click arriving mid-burst.
            if (ran.size() % 50 == 0)
                QMetaObject::invokeMethod(
                    &context, [&] { ranBeforeQueuedEvent.push_back(ran.size()); }, Qt::QueuedConnection);
            ran.push_back(i);
            spin(itemTime);
        });
    }
    ASSERT_TRUE(runUntil([&] { return ran.size() == count; }, 10000ms));
    runFor(5ms);

    std::vector<std::size_t> expected(count);
    std::iota(expected.begin(), expected.end(), 0);
    std::stable_sort(expected.begin(), expected.end(),
                     [&](std::size_t a, std::size_t b) { return deadlines[a] < deadlines[b]; });
    EXPECT_EQ(ran, expected);

    // Posted while items 0, 50, 100 and 150 ran; each served within one
    // slice's worth of items after that.
    const std::size_t perSlice = QtMainQueue::timeSlice / itemTime;
    ASSERT_EQ(ranBeforeQueuedEvent.size(), 4u);
    for (std::size_t k = 0; k < ranBeforeQueuedEvent.size(); ++k) {
        EXPECT_GT(ranBeforeQueuedEvent[k], 50 * k);
        EXPECT_LE(ranBeforeQueuedEvent[k], 50 * k + perSlice);
    }
}

TEST(QtMainQueue, ExtremeDeadlinesNeitherOverflowNorBlockOthers)
{
    QtMainQueue queue;
    std::vector<std::string> ran;
    queue.asyncAfter(MonoTime::max(), [&] { ran.push_back("never"); });
    queue.asyncAfter(MonoTime::min(), [&] { ran.push_back("min"); });
    queue.asyncAfter(queue.now() + 5ms, [&] { ran.push_back("soon"); });
    ASSERT_TRUE(runUntil([&] { return ran.size() == 2; }));
    runFor(20ms);
    EXPECT_EQ(ran, (std::vector<std::string>{"min", "soon"}));
}

// What is done to the timer right after scheduling it, or once it fired.
enum class Act { nothing, invalidate, dropHandle, invalidateAfterFiring, invalidateFromWorkDueFirst };

struct TimerCase {
    std::string name;
    double intervalSeconds;
    Act act;
    int expectedFirings;
};

void PrintTo(const TimerCase& c, std::ostream* out) { *out << c.name; }

class TimerLife : public ::testing::TestWithParam<TimerCase> {};

TEST_P(TimerLife, FiresOnceAfterItsIntervalUnlessInvalidatedFirst)
{
    const TimerCase& c = GetParam();
    QtMainQueue queue;
    int firings = 0;
    MonoTime firedAt{};
    const MonoTime start = queue.now();
    auto timer = queue.scheduledTimer(std::chrono::duration<double>(c.intervalSeconds), [&] {
        ++firings;
        firedAt = queue.now();
    });
    ASSERT_TRUE(timer);
    std::weak_ptr<Timer> watch = timer;
    if (c.act == Act::invalidate)
        timer->invalidate();
    if (c.act == Act::dropHandle)
        timer.reset();
    if (c.act == Act::invalidateFromWorkDueFirst)
        queue.asyncAfter(MonoTime::min(), [&] { timer->invalidate(); });
    if (c.expectedFirings == 1)
        ASSERT_TRUE(runUntil([&] { return firings == 1; }));
    else
        runFor(60ms);
    if (auto t = watch.lock(); t && c.act == Act::invalidateAfterFiring)
        t->invalidate();
    runFor(30ms);
    EXPECT_EQ(firings, c.expectedFirings);
    const std::chrono::duration<double> interval(c.intervalSeconds);
    if (firings == 1 && c.intervalSeconds > 0) {
        EXPECT_GE(firedAt - start, std::chrono::duration_cast<MonoTime>(interval));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Timers, TimerLife,
    ::testing::Values(TimerCase{"Fires", 0.02, Act::nothing, 1},
                      TimerCase{"InvalidatedBeforeFiring", 0.02, Act::invalidate, 0},
                      TimerCase{"InvalidatedAfterFiring", 0.02, Act::invalidateAfterFiring, 1},
                      TimerCase{"HandleDropped", 0.02, Act::dropHandle, 1},
                      TimerCase{"InvalidatedByWorkDueInTheSameRound", 0, Act::invalidateFromWorkDueFirst, 0},
                      TimerCase{"NaNInterval", std::numeric_limits<double>::quiet_NaN(), Act::nothing, 1},
                      TimerCase{"InfiniteInterval", std::numeric_limits<double>::infinity(), Act::nothing, 0},
                      TimerCase{"HugeIntervalInvalidated", 1e300, Act::invalidate, 0}),
    [](const auto& info) { return info.param.name; });

TEST(QtMainQueue, TimerRestartedFromItsOwnBlockAndFromWorkItems)
{
    // The link's activity timer: every write invalidates the last one and
    // schedules a new one; only the last may fire.
    QtMainQueue queue;
    int firings = 0;
    MonoTime lastRestart{};
    MonoTime firedAt{};
    std::shared_ptr<Timer> timer;
    auto restart = [&] {
        if (timer)
            timer->invalidate();
        lastRestart = queue.now();
        timer = queue.scheduledTimer(0.03s, [&] {
            ++firings;
            firedAt = queue.now();
            timer->invalidate(); // on itself, while running
        });
    };
    for (int i = 0; i < 5; ++i)
        queue.asyncAfter(queue.now() + std::chrono::milliseconds(5 * i), restart);
    ASSERT_TRUE(runUntil([&] { return firings == 1; }));
    runFor(40ms);
    EXPECT_EQ(firings, 1);
    EXPECT_GE(firedAt - lastRestart, 30ms);
}

TEST(QtMainQueue, DestroyingTheQueueDropsPendingWorkButNotItsTimerHandles)
{
    bool ran = false;
    std::shared_ptr<Timer> timer;
    auto held = std::make_shared<int>(1);
    std::weak_ptr<int> watch = held;
    {
        QtMainQueue queue;
        queue.asyncAfter(queue.now(), [&ran, held] { ran = held != nullptr; });
        timer = queue.scheduledTimer(0s, [&ran] { ran = true; });
        // A closure whose destruction hands the dying queue more work.
        struct HandsOverOnDestruction {
            explicit HandsOverOnDestruction(QtMainQueue& q) : queue(q) {}
            ~HandsOverOnDestruction() { queue.asyncAfter(MonoTime{}, [] {}); }
            QtMainQueue& queue;
        };
        auto last = std::make_shared<HandsOverOnDestruction>(queue);
        queue.asyncAfter(queue.now(), [last] { (void)last; });
        last.reset();
        held.reset();
    }
    timer->invalidate();
    runFor(5ms);
    EXPECT_FALSE(ran);
    EXPECT_TRUE(watch.expired());
}

} // namespace
} // namespace zt
