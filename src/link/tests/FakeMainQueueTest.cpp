#include "link/testing/FakeMainQueue.h"

#include <gtest/gtest.h>

#include <string>

namespace zt::testing {
namespace {

using namespace std::chrono_literals;

// Others build their tests on this clock: its ordering promise is checked here.
TEST(FakeMainQueueTest, RunsByDeadlineThenHandOverOrderTimersIncluded)
{
    FakeMainQueue queue;
    std::string log;
    auto note = [&log](char c) { return [&log, c] { log += c; }; };

    queue.asyncAfter(20ms, note('c'));
    queue.asyncAfter(10ms, note('a'));
    auto timer = queue.scheduledTimer(10ms, note('b')); // ties with 'a', handed over later
    auto cancelled = queue.scheduledTimer(5ms, note('x'));
    cancelled->invalidate();
    queue.asyncAfter(0ms, [&] {
        log += '0';
        queue.asyncAfter(queue.now(), note('1')); // due at once: same advance
        queue.asyncAfter(25ms, note('d'));         // inside the window: same advance
    });

    EXPECT_TRUE(log.empty());
    queue.advance(25ms);
    EXPECT_EQ(log, "01abcd");
    EXPECT_EQ(queue.now(), MonoTime{25ms});
    EXPECT_TRUE(queue.pending().empty());

    timer->invalidate(); // after it fired: harmless
    queue.asyncAfter(30ms, note('e'));
    queue.advance(5ms - 1ns);
    EXPECT_EQ(log, "01abcd");
    queue.advance(1ns);
    EXPECT_EQ(log, "01abcde");
}

} // namespace
} // namespace zt::testing
