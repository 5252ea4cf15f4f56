#include "link/CursorController.h"
#include "link/testing/RecordingPointer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zt {
namespace {

using testing::RecordingPointer;
using Type = MouseEventType;

struct GainCase {
    const char* name;
    double sensitivity;
    double xOffset;
    double yOffset;
    Point start;
    Point expected;
};

void PrintTo(const GainCase& c, std::ostream* os) { *os << c.name; }

class CursorGain : public ::testing::TestWithParam<GainCase> {};

TEST_P(CursorGain, PostsOneMoveAtOffsetTimesSensitivityTimesThirty)
{
    const GainCase& c = GetParam();
    RecordingPointer pointer;
    pointer.location = c.start;
    CursorController controller(pointer);
    controller.sensitivity = c.sensitivity;

    controller.moveCursorBy(c.xOffset, c.yOffset);

    ASSERT_EQ(pointer.events.size(), 1u);
    EXPECT_EQ(pointer.events[0].type, Type::mouseMoved);
    EXPECT_EQ(pointer.events[0].location.x, c.expected.x);
    EXPECT_EQ(pointer.events[0].location.y, c.expected.y);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CursorGain,
    ::testing::Values(GainCase{"UnitRight", 1.0, 1, 0, {100, 50}, {130, 50}},
                      GainCase{"DownIsPositiveY", 2.0, 0, 1, {100, 50}, {100, 110}},
                      GainCase{"ZeroSensitivityStaysPut", 0.0, 7, -3, {100, 50}, {100, 50}},
                      GainCase{"NegativeSensitivityReversesBothAxes", -1.0, 1, 2, {100, 50}, {70, -10}},
                      // Double precision throughout: 0.1 x (0.25 x 30) is not a float result.
                      GainCase{"DoublePrecisionGain", 0.25, 0.1, -0.1, {0, 0}, {0.1 * 7.5, -0.1 * 7.5}},
                      GainCase{"BeyondEveryDisplayUnclamped", 1.0, 1e6, -1e6, {10, 10}, {30000010, -29999990}}),
    [](const auto& info) { return std::string(info.param.name); });

// 'c' arms a click, 'm' moves; the events expected from the moves.
struct ClickCase {
    const char* name;
    const char* script;
    std::vector<Type> expected;
};

void PrintTo(const ClickCase& c, std::ostream* os) { *os << c.name; }

class CursorClick : public ::testing::TestWithParam<ClickCase> {};

TEST_P(CursorClick, ClickRidesOnTheNextTwoMoves)
{
    RecordingPointer pointer;
    CursorController controller(pointer);
    for (const char* op = GetParam().script; *op; ++op) {
        if (*op == 'c')
            controller.simulateLeftClick();
        else
            controller.moveCursorBy(1, 1);
    }
    std::vector<Type> types;
    for (const auto& e : pointer.events)
        types.push_back(e.type);
    EXPECT_EQ(types, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CursorClick,
    ::testing::Values(ClickCase{"NoClick", "mm", {Type::mouseMoved, Type::mouseMoved}},
                      ClickCase{"DownUpThenMoved", "cmmm", {Type::leftMouseDown, Type::leftMouseUp, Type::mouseMoved}},
                      ClickCase{"ArmedTwiceIsOneClick", "ccmmm",
                                {Type::leftMouseDown, Type::leftMouseUp, Type::mouseMoved}},
                      ClickCase{"ReArmedAfterDownGivesSecondDown", "cmcmmm",
                                {Type::leftMouseDown, Type::leftMouseDown, Type::leftMouseUp, Type::mouseMoved}},
                      ClickCase{"ArmingPostsNothing", "cc", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CursorControllerTest, DownAndUpGoOutWhereEachMoveLands)
{
    RecordingPointer pointer; // follows its events, like a real pointer
    pointer.location = Point{10, 10};
    CursorController controller(pointer);
    controller.simulateLeftClick();
    controller.moveCursorBy(1, 0);
    controller.moveCursorBy(0, 1);
    const std::vector<RecordingPointer::Event> expected{{Type::leftMouseDown, {40, 10}}, {Type::leftMouseUp, {40, 40}}};
    EXPECT_EQ(pointer.events, expected);
}

TEST(CursorControllerTest, NoLocationPostsNothingAndKeepsTheClickArmed)
{
    RecordingPointer pointer;
    CursorController controller(pointer);
    controller.simulateLeftClick();
    pointer.location.reset();
    controller.moveCursorBy(1, 1);
    controller.moveCursorBy(1, 1);
    EXPECT_TRUE(pointer.events.empty());

    pointer.location = Point{0, 0};
    controller.moveCursorBy(1, 1);
    controller.moveCursorBy(1, 1);
    ASSERT_EQ(pointer.events.size(), 2u);
    EXPECT_EQ(pointer.events[0].type, Type::leftMouseDown);
    EXPECT_EQ(pointer.events[1].type, Type::leftMouseUp);
}

TEST(CursorControllerTest, FailedEventCreationStillConsumesTheFlag)
{
    RecordingPointer pointer;
    CursorController controller(pointer);
    controller.simulateLeftClick();
    pointer.failEventCreation = true;
    controller.moveCursorBy(1, 1); // the down is lost
    EXPECT_EQ(pointer.failedPosts, 1u);

    pointer.failEventCreation = false;
    controller.moveCursorBy(1, 1);
    controller.moveCursorBy(1, 1);
    ASSERT_EQ(pointer.events.size(), 2u);
    EXPECT_EQ(pointer.events[0].type, Type::leftMouseUp);
    EXPECT_EQ(pointer.events[1].type, Type::mouseMoved);
}

} // namespace
} // namespace zt
