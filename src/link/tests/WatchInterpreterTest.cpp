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
// and alpha carry over. A frame 0 without gravity moves nothing but still
// advances the filter.
TEST(WatchMotion, SmoothingFiltersTheRateWithAlphaFromTheSetting)
{
    const std::pair<float, float> smoothingAndAlpha[] = {{1.0f, 0.980f}, {0.1f, 0.819f}, {0.02f, 0.368f}, {0.0f, 0.0f}};
    for (const auto& [smoothing, approxAlpha] : smoothingAndAlpha) {
        for (const bool firstHasGravity : {true, false}) {
            SCOPED_TRACE(::testing::Message() << smoothing << (firstHasGravity ? "" : ", frame 0 without gravity"));
            WatchRig rig;
            Update update;
            settings(update, 1.0f, smoothing, 2);
            addFrame(update, {0, 0, 1}, firstHasGravity ? kGravityZ : std::vector<float>{});
            rig.writeAndRun(update);
            Update next;
            addFrame(next, {}, kGravityZ);
            rig.writeAndRun(next);

            const float alpha = runtimeExpf(-1.0f / (smoothing * 50.0f));
            EXPECT_NEAR(alpha, approxAlpha, 5e-4);
            const float w0 = (1.0f - alpha) * 1.0f;
            ASSERT_EQ(rig.platform.pointer.events.size(), 2u);
            EXPECT_EQ(rig.platform.pointer.events[0].location.x, firstHasGravity ? offset(-w0 * G) : 0.0);
            EXPECT_EQ(rig.platform.pointer.events[1].location.x, offset(-(alpha * w0) * G));
        }
    }
}

// A NaN or infinity restarts the filter state of its own axis only: the
// other axes run on into the next frame (no rate, gravity along z, so
// dx = -alpha w.z G and dy = -alpha w.y G), and the restarted one starts
// from rest. The non-finite value itself is passed on as it came.
TEST(WatchMotion, NonFiniteFilterStateRestartsOnlyItsOwnAxis)
{
    const float nan = std::nanf("");
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        const char* name;
        std::vector<float> gyro;
        bool restartsY, restartsZ;
    } cases[] = {
        {"NaNInX", {nan, 1, 1}, false, false},     // x never reaches dx or dy
        {"InfinityInX", {-inf, 1, 1}, false, false},
        {"NaNInY", {0, nan, 1}, true, false},
        {"InfinityInZ", {0, 1, inf}, false, true},
        {"AllThree", {nan, -inf, inf}, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WatchRig rig;
        Update update;
        settings(update, 1.0f, 1.0f, 0);
        addFrame(update, c.gyro, kGravityZ);
        addFrame(update, {}, kGravityZ);
        addFrame(update, {0, 0, 1}, kGravityZ);
        rig.writeAndRun(update);

        const float alpha = runtimeExpf(-1.0f / 50.0f);
        const float kept = alpha * ((1.0f - alpha) * 1.0f);
        const auto& events = rig.platform.pointer.events;
        ASSERT_EQ(events.size(), 3u);
        EXPECT_EQ(!std::isfinite(events[0].location.x), c.restartsY || c.restartsZ);
        EXPECT_EQ(events[1].location, (Point{c.restartsZ ? 0.0 : offset(-kept * G), c.restartsY ? 0.0 : offset(-kept * G)}));
        // Restarted from rest, z is (1 - alpha) x 1 after frame 2.
        if (c.restartsZ) {
            EXPECT_EQ(events[2].location.x, offset(-((1.0f - alpha) * 1.0f) * G));
        }
    }
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
        // Widened exactly and multiplied by 30 in double precision; a gain
        // in single precision would be 3.0 flat.
        {"FractionalSensitivity", true, 0, 0.1f, false, true, static_cast<double>(0.1f)},
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
        EXPECT_EQ(rig.platform.pointer.events[0].location.y,
                  static_cast<double>(-G) * (c.sensitivityAfter * 30.0) * (c.leftHanded ? -1 : 1));
    }
}

// The gain is read when a move runs, not when it is scheduled: a
// sensitivity set meanwhile, from outside (as a settings change does) or by
// a later Update, applies to the moves still pending.
TEST_F(WatchTest, SensitivityIsReadWhenTheMoveRuns)
{
    Update update;
    settings(update, 1.0f, 0.0f, 2);
    for (int i = 0; i < 3; ++i)
        addFrame(update, {0, 0, 1}, kGravityZ);
    write(update);
    platform.queue.advance(0ms);
    watch->cursorController().sensitivity = 2.0;
    platform.queue.advance(10ms);
    Update later;
    settings(later, 0.5f, 0.0f, 0);
    write(later);
    platform.queue.advance(10ms);

    std::vector<double> xs;
    for (const auto& e : platform.pointer.events)
        xs.push_back(e.location.x);
    const double dx = -G;
    EXPECT_EQ(xs, (std::vector<double>{dx * 30.0, dx * 60.0, dx * 15.0}));
}

// Settings present but empty turn smoothing off (alpha 0), also after a
// smoothing of 1: the next frame's rate is taken as it is. They also set the
// sensitivity to 0, raised here from outside to see the move.
TEST_F(WatchTest, EmptySettingsTurnSmoothingOff)
{
    Update smooth;
    settings(smooth, 1.0f, 1.0f, 2);
    addFrame(smooth, {0, 0, 1}, kGravityZ);
    writeAndRun(smooth);
    Update empty;
    empty.mutable_mouseinfo();
    addFrame(empty, {0, 0, 1}, kGravityZ);
    write(empty);
    EXPECT_EQ(watch->cursorController().sensitivity, 0.0);
    watch->cursorController().sensitivity = 1.0;
    platform.queue.advance(1s);

    ASSERT_EQ(platform.pointer.events.size(), 2u);
    EXPECT_EQ(platform.pointer.events[1].location.x, offset(-G));
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
