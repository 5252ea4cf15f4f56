#include "link/tests/WatchTestFixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace zt::testing {
namespace {

using namespace std::chrono_literals;
using Type = MouseEventType;
const Type M = Type::mouseMoved, D = Type::leftMouseDown, U = Type::leftMouseUp;

// G = 0.1019368f x 9.81f in single precision: gravity of 9.81 along one axis.
constexpr float G = 0x1.000002p+0f;
const std::vector<float> kGravityZ{0, 0, 9.81f};

void settings(Update& update, float sensitivity, float smoothing, int cursorActive, bool leftHanded = false,
              bool crownLeft = false)
{
    ZimtorvaInfo* info = update.mutable_mouseinfo();
    info->set_sensitivity(sensitivity);
    info->set_smoothing(smoothing);
    info->set_cursoractive(static_cast<ZimtorvaInfo::ActiveState>(cursorActive));
    info->set_lefthanded(leftHanded);
    info->set_crownleft(crownLeft);
}

// The single-precision exponential of the running library, not one the
// compiler folded at build time.
float runtimeExpf(float x)
{
    volatile float v = x;
    return std::exp(static_cast<float>(v));
}

double offset(float d) { return static_cast<double>(d) * 30.0; }

TEST(WatchMotion, OneFrameProjectsExactlyInSinglePrecision)
{
    // Worked out independently, one rounding to single precision per
    // operation; any step in double precision gives other values. Along z:
    // dx = -w.z G, dy = -w.y G s. Along y: dx = -w.y G, dy = w.z G s. The x
    // components never enter.
    const struct {
        const char* name;
        std::vector<float> grav, gyro;
        bool leftHanded, crownLeft;
        float dx, dy;
    } cases[] = {
        {"GravityAlongZ", kGravityZ, {0, 2, 3}, false, false, -3 * G, -2 * G},
        {"GravityAlongZLeftHanded", kGravityZ, {0, 2, 3}, true, false, -3 * G, 2 * G},
        {"GravityAlongY", {0, 9.81f, 0}, {0, 2, 3}, false, false, -2 * G, 3 * G},
        {"GravityAlongYCrownLeft", {0, 9.81f, 0}, {0, 2, 3}, false, true, -2 * G, -3 * G},
        {"Oblique", {1.5f, -4.25f, 8.5f}, {0.7f, -1.3f, 2.9f}, false, true, -0x1.89b88p+1f, 0x1.0a2d7p-3f},
        {"BothLeft", {0.3f, 6.7f, -6.9f}, {-0.11f, 0.37f, -1.9f}, true, true, -0x1.96cec8p+0f, -0x1.0993cp+0f},
        {"NoGravity", {}, {0, 2, 3}, false, false, 0, 0},
        {"NoRate", {0, 9.81f, 9.81f}, {}, false, false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WatchRig rig;
        Update update;
        settings(update, 1.0f, 0.0f, 0, c.leftHanded, c.crownLeft);
        addFrame(update, c.gyro, c.grav);
        rig.writeAndRun(update);
        ASSERT_EQ(rig.platform.pointer.events.size(), 1u);
        EXPECT_EQ(rig.platform.pointer.events[0].location, (Point{offset(c.dx), offset(c.dy)}));
    }
}

// Frame 0 turns the rate (0, 0, 1) into (1 - alpha); frame 1, in a later
// Update without settings and with no rate, leaves alpha x that: the filter
// and alpha carry over.
TEST(WatchMotion, SmoothingFiltersTheRateWithAlphaFromTheSetting)
{
    const std::pair<float, float> smoothingAndAlpha[] = {{1.0f, 0.980f}, {0.1f, 0.819f}, {0.02f, 0.368f}, {0.0f, 0.0f}};
    for (const auto& [smoothing, approxAlpha] : smoothingAndAlpha) {
        SCOPED_TRACE(smoothing);
        WatchRig rig;
        Update update;
        settings(update, 1.0f, smoothing, 2);
        addFrame(update, {0, 0, 1}, kGravityZ);
        rig.writeAndRun(update);
        Update next;
        addFrame(next, {}, kGravityZ);
        rig.writeAndRun(next);

        const float alpha = runtimeExpf(-1.0f / (smoothing * 50.0f));
        EXPECT_NEAR(alpha, approxAlpha, 5e-4);
        const float w0 = (1.0f - alpha) * 1.0f;
        ASSERT_EQ(rig.platform.pointer.events.size(), 2u);
        EXPECT_EQ(rig.platform.pointer.events[0].location.x, offset(-w0 * G));
        EXPECT_EQ(rig.platform.pointer.events[1].location.x, offset(-(alpha * w0) * G));
    }
}

TEST_F(WatchTest, NonFiniteFilterStateIsNotCarriedOn)
{
    Update update;
    settings(update, 1.0f, 1.0f, 0);
    addFrame(update, {0, 0, std::nanf("")}, kGravityZ);
    addFrame(update, {0, 0, std::numeric_limits<float>::infinity()}, kGravityZ);
    addFrame(update, {0, 0, 1}, kGravityZ);
    writeAndRun(update);

    ASSERT_EQ(platform.pointer.events.size(), 3u);
    EXPECT_TRUE(std::isnan(platform.pointer.events[0].location.x)); // passed on as it came
    EXPECT_EQ(platform.pointer.events[2].location.x, offset(-(1.0f - runtimeExpf(-1.0f / 50.0f)) * G));
}

// What the mouse settings of one Update do to a Watch whose sensitivity was
// set to 2 from outside, with a pinch-tap and two frames of rate (0, 1, 0).
TEST(WatchSettings, ApplyOnlyWhenPresentAndGateTheRest)
{
    const struct {
        const char* name;
        bool present;
        int cursorActive;
        float sensitivity;
        bool leftHanded, activeAfter;
        double sensitivityAfter;
    } cases[] = {
        {"Absent", false, 0, 0, false, true, 2.0},
        {"NoneKeepsActive", true, 0, 0.5f, true, true, 0.5},
        {"EmptySettings", true, 0, 0.0f, false, true, 0.0},
        {"Active", true, 2, -1.5f, false, true, -1.5},
        {"Inactive", true, 1, 3.0f, false, false, 3.0},
        {"UnrecognisedIsInactive", true, 3, 3.0f, false, false, 3.0},
        {"NegativeIsInactive", true, -1, 3.0f, false, false, 3.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WatchRig rig;
        rig.watch->cursorController().sensitivity = 2.0;
        Update update;
        if (c.present)
            settings(update, c.sensitivity, 0.0f, c.cursorActive, c.leftHanded);
        update.add_gestures()->set_type(PINCH_TAP);
        addFrame(update, {0, 1, 0}, kGravityZ);
        addFrame(update, {0, 1, 0}, kGravityZ);
        rig.writeAndRun(update);

        EXPECT_EQ(bool(rig.watch->active), c.activeAfter);
        EXPECT_EQ(rig.watch->cursorController().sensitivity, c.sensitivityAfter);
        if (!c.activeAfter) {
            EXPECT_TRUE(rig.platform.pointer.events.empty());
            continue;
        }
        EXPECT_EQ(rig.platform.pointer.eventTypes(), (std::vector<Type>{D, U}));
        EXPECT_EQ(rig.platform.pointer.events[0].location.y, offset(-G) * c.sensitivityAfter * (c.leftHanded ? -1 : 1));
    }
}

TEST_F(WatchTest, InactiveDropsClickAndFreezesFilterUntilActiveAgain)
{
    Update off;
    settings(off, 1.0f, 1.0f, 1);
    off.add_gestures()->set_type(PINCH_TAP);
    addFrame(off, {0, 0, 5}, kGravityZ);
    writeAndRun(off);
    Update still; // no settings: stays inactive
    addFrame(still, {0, 0, 5}, kGravityZ);
    writeAndRun(still);
    EXPECT_TRUE(platform.pointer.events.empty());

    // Switched on from within the same Update; the filter never saw the 5s.
    Update on;
    settings(on, 1.0f, 1.0f, 2);
    addFrame(on, {0, 0, 0}, kGravityZ);
    writeAndRun(on);
    EXPECT_EQ(platform.pointer.events, (std::vector<RecordingPointer::Event>{{M, {0, 0}}}));
}

// Gestures per Update ('p' pinch-tap, 'c' clench) and frame counts, all
// written before any move runs.
TEST(WatchClick, FirstGesturePinchArmsOneClickCarriedByTheNextMoves)
{
    const struct {
        const char* name;
        std::vector<std::pair<std::string, int>> updates;
        std::vector<Type> events;
    } cases[] = {
        {"PinchFirst", {{"pc", 3}}, {D, U, M}},
        {"PinchSecondOnly", {{"cp", 3}}, {M, M, M}},
        {"TwoPinchesBeforeAnyMove", {{"p", 0}, {"p", 0}, {"", 3}}, {D, U, M}},
        {"PinchWithoutFramesWaits", {{"p", 0}, {"", 1}, {"", 1}}, {D, U}},
        // Armed before anything ran: update 1's first move, due earlier, carries the down.
        {"InterleavedUpdates", {{"", 3}, {"p", 1}}, {D, U, M, M}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WatchRig rig;
        for (const auto& [gestures, frames] : c.updates) {
            Update update;
            for (char g : gestures)
                update.add_gestures()->set_type(g == 'p' ? PINCH_TAP : CLENCH);
            for (int i = 0; i < frames; ++i)
                addFrame(update, {0, 1, 1}, kGravityZ);
            rig.write(update);
        }
        rig.platform.queue.advance(1s);
        EXPECT_EQ(rig.platform.pointer.eventTypes(), c.events);
    }
}

// Moves run 10 ms apart from the write, never inside it, and keep the Watch
// alive until the last has run; the activity timer does not, and finds
// nothing when it fires.
TEST_F(WatchTest, MovesRunTenMillisecondsApartAndOnlyTheyKeepTheWatchAlive)
{
    Update update;
    for (int i = 0; i < 3; ++i)
        addFrame(update, {0, 1, 1}, kGravityZ);
    platform.queue.advance(5s);
    write(update);
    std::weak_ptr<Watch> weak = watch;
    watch.reset();
    EXPECT_TRUE(platform.pointer.events.empty());
    const std::pair<MonoTime, std::size_t> steps[] = {{0ms, 1}, {10ms - 1ns, 1}, {1ns, 2}, {10ms - 1ns, 2}, {1ns, 3}};
    for (const auto& [step, moves] : steps) {
        EXPECT_FALSE(weak.expired());
        platform.queue.advance(step);
        EXPECT_EQ(platform.pointer.events.size(), moves);
    }
    EXPECT_TRUE(weak.expired());
    platform.queue.advance(2s);
    EXPECT_EQ(platform.queue.ranCount(), 4u);
}

} // namespace
} // namespace zt::testing
