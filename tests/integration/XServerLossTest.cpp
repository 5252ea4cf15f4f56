// The X server goes away under a running link and a new one takes its
// display, as when a display manager restarts it: the Bluetooth side carries
// on (every write is answered and marks the link connected), nothing is
// printed, nothing ends the process, and once the new server is there the
// watch moves the pointer again.

#include "fakebluez/FakeBluez.h"
#include "integration/ScreenInspector.h"
#include "integration/TestPlatform.h"
#include "integration/UpdateBuilder.h"
#include "integration/WaitUntil.h"
#include "link/Watch.h"
#include "support/DefaultSigpipe.h"
#include "support/PrivateBus.h"
#include "support/RestartableXvfb.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace zt::test {
namespace {

using namespace std::chrono_literals;

TEST(XServerLoss, TheLinkCarriesOnAndMotionComesBackWithTheNextServer)
{
    PrivateBus bus;
    RestartableXvfb xvfb;
    const std::string display = xvfb.displayName();
    const QString address = QString::fromStdString(bus.address());
    FakeBluez fake(address);
    ASSERT_TRUE(fake.start());
    TestPlatform platform(display, address);
    std::shared_ptr<Watch> watch = Watch::create(platform);
    int accepted = 0;
    const Cancellable subscription = watch->connected.sink([&](bool value) { accepted += value ? 1 : 0; });
    ASSERT_TRUE(waitUntil([&] { return fake.applications().size() == 1 && fake.advertisements().size() == 1; }));

    // One frame turning about z under gravity along z: 15 pixels to the left.
    const QByteArray turn =
        UpdateBuilder().settings(1, 0, ZimtorvaInfo::ACTIVE).frame({0, 0, 0.5f}, {0, 0, 9.81f}).bytes();
    const auto& posts = platform.pointer().posts();
    // Writes once; true when the link took the write and the move it
    // scheduled has run (moves run in deadline order, this marker last).
    const auto send = [&] {
        const int before = accepted;
        if (!fake.writeValue(turn, FakeBluez::requestOptions()) || !waitUntil([&] { return accepted > before; }))
            return false;
        auto ran = std::make_shared<bool>(false);
        platform.mainQueue().asyncAfter(platform.mainQueue().now(), [ran] { *ran = true; });
        return waitUntil([&] { return *ran; });
    };
    ASSERT_TRUE(send());
    ASSERT_EQ(posts.size(), 1u);

    xvfb.stop();
    const DefaultSigpipe sigpipe;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(send());
    EXPECT_EQ(posts.size(), 1u);
    EXPECT_EQ(accepted, 6);
    EXPECT_EQ(::testing::internal::GetCapturedStderr() + ::testing::internal::GetCapturedStdout(), "");

    xvfb.start();
    ScreenInspector screen(display);
    screen.watchPointer({0, 0, 1280, 800});
    screen.warp(640, 400);
    // The link looks for a server again about once a second; the watch
    // keeps writing meanwhile.
    for (int i = 0; i < 100 && posts.size() == 1; ++i) {
        ASSERT_TRUE(send());
        waitUntil([&] { return posts.size() > 1; }, 50ms);
    }
    ASSERT_EQ(posts.size(), 2u);
    ASSERT_TRUE(waitUntil([&] { return !screen.pointerEvents().empty(); }));
    EXPECT_EQ(screen.pointerEvents(), (std::vector<PointerEvent>{{PointerEvent::Kind::motion, 625, 400}}));
}

} // namespace
} // namespace zt::test
