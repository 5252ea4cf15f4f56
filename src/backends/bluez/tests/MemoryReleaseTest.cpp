#include "backends/bluez/MemoryRelease.h"
#include "integration/WaitUntil.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <vector>

namespace zt::bluez {
namespace {

using namespace std::chrono_literals;
using test::waitUntil;

constexpr auto quiet = 20ms;

// Runs the loop until a timer started now for `after` has fired: Qt fires
// due timers in deadline order, so every timer due before has fired too.
void pass(std::chrono::milliseconds after)
{
    bool fired = false;
    QTimer::singleShot(after, [&] { fired = true; });
    ASSERT_TRUE(waitUntil([&] { return fired; }));
}

// Each release notes how many calls had been made by then.
TEST(MemoryReleaseTest, ReleasesOnceABurstIsFollowedByQuiet)
{
    std::size_t calls = 0;
    std::vector<std::size_t> releases;
    MemoryRelease release(quiet, 3, [&] { releases.push_back(calls); });
    const auto call = [&] {
        ++calls;
        release.noteCall();
    };

    call();
    ASSERT_NO_FATAL_FAILURE(pass(2 * quiet));
    EXPECT_EQ(releases, std::vector<std::size_t>{}) << "one call is no burst";

    call();
    call();
    ASSERT_TRUE(waitUntil([&] { return !releases.empty(); }));
    ASSERT_NO_FATAL_FAILURE(pass(2 * quiet));
    EXPECT_EQ(releases, std::vector<std::size_t>{3}) << "released once, when quiet, not again while idle";
    call();
    ASSERT_NO_FATAL_FAILURE(pass(2 * quiet));
    EXPECT_EQ(releases, std::vector<std::size_t>{3}) << "one call after a burst is no burst";

    // Calls half a quiet interval apart: not quiet until the last.
    for (int i = 0; i < 5; ++i) {
        call();
        ASSERT_NO_FATAL_FAILURE(pass(quiet / 2));
    }
    ASSERT_TRUE(waitUntil([&] { return releases.size() == 2; }));
    EXPECT_EQ(releases, (std::vector<std::size_t>{3, 9}));
}

} // namespace
} // namespace zt::bluez
