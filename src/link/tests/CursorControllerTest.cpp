#include "link/CursorController.h"
#include "link/testing/RecordingPointer.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace zt {
namespace {

using testing::RecordingPointer;
using Type = MouseEventType;
const Type M = Type::mouseMoved, D = Type::leftMouseDown, U = Type::leftMouseUp;

constexpr double kWatchTenth = static_cast<double>(0.1f);
static_assert(static_cast<double>(0.1f * 30.0f) != kWatchTenth * 30.0);

TEST(CursorControllerTest, MovesByOffsetTimesSensitivityTimesThirty)
{
    const struct {
        const char* name;
        double sensitivity, xOffset, yOffset;
        Point start, expected;
    } cases[] = {
        {"UnitRight", 1.0, 1, 0, {100, 50}, {130, 50}},
        {"DownIsPositiveY", 2.0, 0, 1, {100, 50}, {100, 110}},
        {"ZeroSensitivityStaysPut", 0.0, 7, -3, {100, 50}, {100, 50}},
        {"NegativeSensitivityReversesBothAxes", -1.0, 1, 2, {100, 50}, {70, -10}},
        // Double precision throughout: 0.1 x (0.25 x 30) is not a float result.
        {"DoublePrecisionOffset", 0.25, 0.1, -0.1, {0, 0}, {0.1 * 7.5, -0.1 * 7.5}},
        // The watch's 0.1f, widened: the gain is 3.0000000447..., in single precision 3.0.
        {"DoublePrecisionGain", kWatchTenth, 1, -1, {0, 0}, {kWatchTenth * 30.0, -(kWatchTenth * 30.0)}},
        {"BeyondEveryDisplayUnclamped", 1.0, 1e6, -1e6, {10, 10}, {30000010, -29999990}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingPointer pointer;
        pointer.location = c.start;
        CursorController controller(pointer);
        controller.sensitivity = c.sensitivity;
        controller.moveCursorBy(c.xOffset, c.yOffset);
        EXPECT_EQ(pointer.events, (std::vector<RecordingPointer::Event>{{M, c.expected}}));
    }
}

TEST(CursorControllerTest, ClickRidesOnTheNextTwoMoves)
{
    // 'c' arms a click, 'm' moves, 'x' / 'l' lose and give back the pointer's
    // location, 'f' / 'o' make event creation fail and work again.
    const struct {
        const char* script;
        std::vector<Type> posted, lost;
    } cases[] = {
        {"mm", {M, M}, {}},
        {"cmmm", {D, U, M}, {}},
        {"ccmmm", {D, U, M}, {}},       // armed twice: one click
        {"cmcmmm", {D, D, U, M}, {}},   // re-armed after the down: a second down
        {"cc", {}, {}},                 // arming alone posts nothing
        {"cxmmlmm", {D, U}, {}},        // without a location the click waits
        {"cfmomm", {U, M}, {D}},        // a lost down is not retried: it would land elsewhere
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        RecordingPointer pointer;
        CursorController controller(pointer);
        for (const char* op = c.script; *op; ++op) {
            switch (*op) {
            case 'c': controller.simulateLeftClick(); break;
            case 'm': controller.moveCursorBy(1, 1); break;
            case 'x': pointer.location.reset(); break;
            case 'l': pointer.location = Point{0, 0}; break;
            default: pointer.failEventCreation = *op == 'f';
            }
        }
        EXPECT_EQ(pointer.eventTypes(), c.posted);
        EXPECT_EQ(pointer.failedPosts, c.lost);
    }
}

TEST(CursorControllerTest, DownAndUpGoOutWhereEachMoveLands)
{
    RecordingPointer pointer; // follows its events, like a real pointer
    pointer.location = Point{10, 10};
    CursorController controller(pointer);
    controller.simulateLeftClick();
    controller.moveCursorBy(1, 0);
    controller.moveCursorBy(0, 1);
    EXPECT_EQ(pointer.events, (std::vector<RecordingPointer::Event>{{D, {40, 10}}, {U, {40, 40}}}));
}

// 'g' merges a move of (1, 0), 'm' moves by (1, 0), 'p' posts what was
// merged, 'k' doubles the sensitivity, 'x' / 'l' lose and give back the
// pointer's location. Events as (type, x); the pointer starts at x = 0.
TEST(CursorControllerTest, MergedMovesGoOutAsOneEventBeforeAnyOther)
{
    const struct {
        const char* script;
        std::vector<std::pair<Type, double>> events;
    } cases[] = {
        {"p", {}},
        {"gggp", {{M, 90}}},
        {"ggmp", {{M, 60}, {M, 90}}},  // the merged event first, then the move from there
        {"gkgp", {{M, 90}}},           // each merge at the sensitivity of its time
        {"xgglgp", {{M, 30}}},         // without a location a merge is dropped, as a move would be
        {"gpgp", {{M, 30}, {M, 60}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        RecordingPointer pointer;
        CursorController controller(pointer);
        for (const char* op = c.script; *op; ++op) {
            switch (*op) {
            case 'g': controller.mergeMoveBy(1, 0); break;
            case 'm': controller.moveCursorBy(1, 0); break;
            case 'p': controller.postMergedMoves(); break;
            case 'k': controller.sensitivity *= 2; break;
            case 'x': pointer.location.reset(); break;
            default: pointer.location = Point{0, 0};
            }
        }
        std::vector<std::pair<Type, double>> events;
        for (const RecordingPointer::Event& e : pointer.events)
            events.emplace_back(e.type, e.location.x);
        EXPECT_EQ(events, c.events);
    }
}

} // namespace
} // namespace zt
