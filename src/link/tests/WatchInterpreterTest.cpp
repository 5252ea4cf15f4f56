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

ZimtorvaInfo* settings(Update& update, float sensitivity, float smoothing, int cursorActive,
                       bool leftHanded = false, bool crownLeft = false)
{
    ZimtorvaInfo* info = update.mutable_mouseinfo();
    info->set_sensitivity(sensitivity);
    info->set_smoothing(smoothing);
    info->set_cursoractive(static_cast<ZimtorvaInfo::ActiveState>(cursorActive));
    info->set_lefthanded(leftHanded);
    info->set_crownleft(crownLeft);
    return info;
}

// The single-precision exponential of the running library, not a value the
// compiler folded at build time.
float runtimeExpf(float x)
{
    volatile float v = x;
    return std::exp(static_cast<float>(v));
}

// Offsets (dx, dy) of one frame on a fresh Watch (no smoothing, sensitivity
// 1, pointer at the origin), as exact single-precision results.
struct ProjectionCase {
    const char* name;
    std::vector<float> grav;
    std::vector<float> gyro;
    bool leftHanded;
    bool crownLeft;
    float dx;
    float dy;
};

void PrintTo(const ProjectionCase& c, std::ostream* os) { *os << c.name; }

class Projection : public WatchTest, public ::testing::WithParamInterface<ProjectionCase> {};

TEST_P(Projection, IsExactInSinglePrecision)
{
    const ProjectionCase& c = GetParam();
    Update update;
    // Sensitivity 1 and smoothing 0 are what a fresh Watch has anyway; the
    // settings carry the handedness.
    settings(update, 1.0f, 0.0f, 0, c.leftHanded, c.crownLeft);
    addFrame(update, {c.gyro, c.grav});
    writeAndRun(update);

    ASSERT_EQ(platform.pointer.events.size(), 1u);
    EXPECT_EQ(platform.pointer.events[0].location.x, static_cast<double>(c.dx) * 30.0);
    EXPECT_EQ(platform.pointer.events[0].location.y, static_cast<double>(c.dy) * 30.0);
}

// Expected values worked out independently, one rounding to single precision
// per operation; doing any step in double precision gives other values.
INSTANTIATE_TEST_SUITE_P(
    Table, Projection,
    ::testing::Values(
        // g = (0, 0, G): dx = -w.z G, dy = -w.y G s. G = 0.1019368f x 9.81f = 0x1.000002p+0.
        ProjectionCase{"GravityAlongZ", {0, 0, 9.81f}, {0, 2, 3}, false, false, -0x1.800004p+1f, -0x1.000002p+1f},
        ProjectionCase{"GravityAlongZLeftHanded", {0, 0, 9.81f}, {0, 2, 3}, true, false, -0x1.800004p+1f,
                       0x1.000002p+1f},
        // g = (0, G, 0): dx = -w.y G, dy = w.z G s.
        ProjectionCase{"GravityAlongY", {0, 9.81f, 0}, {0, 2, 3}, false, false, -0x1.000002p+1f, 0x1.800004p+1f},
        ProjectionCase{"GravityAlongYCrownLeft", {0, 9.81f, 0}, {0, 2, 3}, false, true, -0x1.000002p+1f,
                       -0x1.800004p+1f},
        ProjectionCase{"Oblique", {1.5f, -4.25f, 8.5f}, {0.7f, -1.3f, 2.9f}, false, true, -0x1.89b88p+1f,
                       0x1.0a2d7p-3f},
        // The x components never enter.
        ProjectionCase{"ObliqueOtherX", {-7, -4.25f, 8.5f}, {9, -1.3f, 2.9f}, false, true, -0x1.89b88p+1f,
                       0x1.0a2d7p-3f},
        ProjectionCase{"BothLeft", {0.3f, 6.7f, -6.9f}, {-0.11f, 0.37f, -1.9f}, true, true, -0x1.96cec8p+0f,
                       -0x1.0993cp+0f},
        ProjectionCase{"NoGravity", {}, {0, 2, 3}, false, false, 0, 0},
        ProjectionCase{"NoRate", {0, 9.81f, 9.81f}, {}, false, false, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// Frame 0 turns the rate (0, 0, 1) into (1 - alpha); frame 1, in a later
// Update without settings and with no rate, leaves alpha x that: the filter
// and alpha carry over. Gravity G along z makes dx = -w.z G.
class Smoothing : public WatchTest, public ::testing::WithParamInterface<std::pair<float, float>> {};

TEST_P(Smoothing, FiltersTheRateWithAlphaFromTheSetting)
{
    const auto [smoothing, approxAlpha] = GetParam();
    Update update;
    settings(update, 1.0f, smoothing, 2);
    addFrame(update, {{0, 0, 1}, {0, 0, 9.81f}});
    writeAndRun(update);
    Update next;
    addFrame(next, {{}, {0, 0, 9.81f}});
    writeAndRun(next);

    const float alpha = runtimeExpf(-1.0f / (smoothing * 50.0f));
    EXPECT_NEAR(alpha, approxAlpha, 5e-4);
    const float G = 0x1.000002p+0f;
    const float w0 = (1.0f - alpha) * 1.0f;
    const float w1 = alpha * w0;
    ASSERT_EQ(platform.pointer.events.size(), 2u);
    EXPECT_EQ(platform.pointer.events[0].location.x, static_cast<double>(-w0 * G) * 30.0);
    EXPECT_EQ(platform.pointer.events[1].location.x, static_cast<double>(-w1 * G) * 30.0);
}

INSTANTIATE_TEST_SUITE_P(Table, Smoothing,
                         ::testing::Values(std::pair{1.0f, 0.980f}, std::pair{0.1f, 0.819f},
                                           std::pair{0.02f, 0.368f}, std::pair{0.0f, 0.0f}));

TEST_F(WatchTest, NonFiniteFilterStateIsNotCarriedOn)
{
    const float inf = std::numeric_limits<float>::infinity();
    Update update;
    settings(update, 1.0f, 1.0f, 0);
    addFrame(update, {{0, 0, std::nanf("")}, {0, 0, 9.81f}});
    addFrame(update, {{0, 0, inf}, {0, 0, 9.81f}});
    addFrame(update, {{0, 0, 1}, {0, 0, 9.81f}});
    writeAndRun(update);

    const float alpha = runtimeExpf(-1.0f / 50.0f);
    ASSERT_EQ(platform.pointer.events.size(), 3u);
    EXPECT_TRUE(std::isnan(platform.pointer.events[0].location.x)); // passed on as it came
    EXPECT_EQ(platform.pointer.events[2].location.x, static_cast<double>(-(1.0f - alpha) * 0x1.000002p+0f) * 30.0);
}

// What the mouse settings of one Update do, starting from a Watch whose
// sensitivity was set to 2 from outside.
struct SettingsCase {
    const char* name;
    bool present;
    int cursorActive;
    float sensitivity;
    bool leftHanded;
    bool activeAfter;
    double sensitivityAfter;
    std::vector<Type> events; // from a pinch-tap and two frames
    double firstDy;           // rate (0, 1, 0) under gravity along z
};

void PrintTo(const SettingsCase& c, std::ostream* os) { *os << c.name; }

class Settings : public WatchTest, public ::testing::WithParamInterface<SettingsCase> {};

TEST_P(Settings, ApplyOnlyWhenPresentAndGateTheRest)
{
    const SettingsCase& c = GetParam();
    watch->cursorController().sensitivity = 2.0;
    Update update;
    if (c.present)
        settings(update, c.sensitivity, 0.0f, c.cursorActive, c.leftHanded);
    addGesture(update, PINCH_TAP);
    addFrame(update, {{0, 1, 0}, {0, 0, 9.81f}});
    addFrame(update, {{0, 1, 0}, {0, 0, 9.81f}});
    writeAndRun(update);

    EXPECT_EQ(bool(watch->active), c.activeAfter);
    EXPECT_EQ(watch->cursorController().sensitivity, c.sensitivityAfter);
    EXPECT_EQ(eventTypes(), c.events);
    if (!platform.pointer.events.empty()) {
        EXPECT_EQ(platform.pointer.events[0].location.y, c.firstDy);
    }
}

constexpr double kDy = -1.0000001192092896 * 30.0; // -G, single precision, times 30
const std::vector<Type> kClick{Type::leftMouseDown, Type::leftMouseUp};

INSTANTIATE_TEST_SUITE_P(
    Table, Settings,
    ::testing::Values(SettingsCase{"Absent", false, 0, 0, false, true, 2.0, kClick, kDy * 2},
                      SettingsCase{"NoneKeepsActive", true, 0, 0.5f, true, true, 0.5, kClick, -kDy * 0.5},
                      SettingsCase{"EmptySettings", true, 0, 0.0f, false, true, 0.0, kClick, 0.0},
                      SettingsCase{"Active", true, 2, -1.5f, false, true, -1.5, kClick, kDy * -1.5},
                      SettingsCase{"Inactive", true, 1, 3.0f, false, false, 3.0, {}, 0},
                      SettingsCase{"UnrecognisedIsInactive", true, 3, 3.0f, false, false, 3.0, {}, 0},
                      SettingsCase{"NegativeNumberIsInactive", true, -1, 3.0f, false, false, 3.0, {}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WatchTest, InactiveDropsClickAndFreezesFilterUntilActiveAgain)
{
    Update off;
    settings(off, 1.0f, 1.0f, 1);
    addGesture(off, PINCH_TAP);
    addFrame(off, {{0, 0, 5}, {0, 0, 9.81f}});
    writeAndRun(off);
    EXPECT_TRUE(platform.pointer.events.empty());

    Update still; // no settings: stays inactive
    addFrame(still, {{0, 0, 5}, {0, 0, 9.81f}});
    writeAndRun(still);
    EXPECT_TRUE(platform.pointer.events.empty());

    // Switched on from within the same Update; the filter never saw the 5s.
    Update on;
    settings(on, 1.0f, 1.0f, 2);
    addFrame(on, {{0, 0, 0}, {0, 0, 9.81f}});
    writeAndRun(on);
    EXPECT_EQ(eventTypes(), std::vector<Type>{Type::mouseMoved});
    EXPECT_EQ(platform.pointer.events[0].location.x, 0.0);
}

// Gestures per Update ('p' pinch-tap, 'c' clench) and frame counts, written
// one after another before any move runs; then the moves run.
struct ClickCase {
    const char* name;
    std::vector<std::pair<std::string, int>> updates;
    std::vector<Type> events;
};

void PrintTo(const ClickCase& c, std::ostream* os) { *os << c.name; }

class FirstGestureClick : public WatchTest, public ::testing::WithParamInterface<ClickCase> {};

TEST_P(FirstGestureClick, ArmsOneClickCarriedByTheNextMoves)
{
    for (const auto& [gestures, frames] : GetParam().updates) {
        Update update;
        for (char g : gestures)
            addGesture(update, g == 'p' ? PINCH_TAP : CLENCH);
        for (int i = 0; i < frames; ++i)
            addFrame(update, {{0, 1, 1}, {0, 0, 9.81f}});
        write(update);
    }
    platform.queue.advance(1s);
    EXPECT_EQ(eventTypes(), GetParam().events);
}

const Type M = Type::mouseMoved, D = Type::leftMouseDown, U = Type::leftMouseUp;

INSTANTIATE_TEST_SUITE_P(
    Table, FirstGestureClick,
    ::testing::Values(ClickCase{"PinchFirst", {{"pc", 3}}, {D, U, M}},
                      ClickCase{"PinchSecondOnly", {{"cp", 3}}, {M, M, M}},
                      ClickCase{"TwoPinchesBeforeAnyMove", {{"p", 0}, {"p", 0}, {"", 3}}, {D, U, M}},
                      ClickCase{"PinchWithoutFramesWaits", {{"p", 0}, {"", 1}, {"", 1}}, {D, U}},
                      // Armed before anything ran: update 1's first move, scheduled
                      // earlier, carries the down.
                      ClickCase{"InterleavedUpdates", {{"", 3}, {"p", 1}}, {D, U, M, M}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WatchTest, FramesAreDueTenMillisecondsApartFromAFreshClockRead)
{
    Update update;
    for (int i = 0; i < 3; ++i)
        addFrame(update, {{0, 1, 1}, {0, 0, 9.81f}});

    for (MonoTime step : {MonoTime{0}, MonoTime{1ms}}) {
        SCOPED_TRACE(step.count());
        platform.queue.advance(5s);
        platform.queue.setClockStepPerRead(step);
        const MonoTime start = platform.queue.now() + step;
        write(update);
        platform.queue.setClockStepPerRead(MonoTime{0});

        // No move runs inside the write callback, not even the one due at once.
        EXPECT_TRUE(platform.pointer.events.empty());
        std::vector<MonoTime> moves;
        for (const auto& p : platform.queue.pending())
            if (!p.timer)
                moves.push_back(p.deadline - start);
        EXPECT_EQ(moves, (std::vector<MonoTime>{MonoTime{0}, 10ms + step, 20ms + 2 * step}));
        platform.queue.advance(5s);
        EXPECT_EQ(platform.pointer.events.size(), 3u);
        platform.pointer.events.clear();
    }
}

} // namespace
} // namespace zt::testing
