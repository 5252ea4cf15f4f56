// Moves that run long after their due time are merged into one event; moves
// that run on time, and clicks, are not. Driven on the virtual clock, with a
// pointer that goes where its events put it.
#include "link/tests/WatchTestFixture.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace zt::testing {
namespace {

using namespace std::chrono_literals;
using Type = MouseEventType;
const Type M = Type::mouseMoved, D = Type::leftMouseDown, U = Type::leftMouseUp;

// Every frame turns the same way: dx = 0.5 x (1/9.81 x 9.81 in single
// precision), dy = 0, so the pointer's x counts the moves applied, each
// scaled by the sensitivity in force when it ran. The sums are exact.
const double step = static_cast<double>(0.5f * (0.1019368f * 9.81f)) * 30.0;

struct Expected {
    Type type;
    double steps; // x of the event, in steps
};

// A script of words: "w<n>" writes n frames ("tw<n>" with a pinch-tap first),
// "s<ms>" stalls the loop, "a" lets everything due run, "k<x>" sets the
// sensitivity, "p<ms>" makes every pointer event take that long, "r" drops
// the test's reference to the Watch.
void run(WatchRig& rig, const std::string& script)
{
    std::istringstream words(script);
    for (std::string word; words >> word;) {
        const bool tap = word.starts_with("tw");
        const std::string argument = word.substr(tap ? 2 : 1);
        switch (word[0]) {
        case 't':
        case 'w': {
            Update update;
            if (tap)
                update.add_gestures()->set_type(PINCH_TAP);
            for (int i = 0; i < std::stoi(argument); ++i)
                addFrame(update, {0, 0, -0.5f}, {0, 0, 9.81f});
            rig.write(update);
            break;
        }
        case 's': rig.platform.queue.stall(std::chrono::milliseconds(std::stoi(argument))); break;
        case 'a': rig.platform.queue.advance(1s); break;
        case 'k': rig.watch->cursorController().sensitivity = std::stod(argument); break;
        case 'p': {
            const auto cost = std::chrono::milliseconds(std::stoi(argument));
            rig.platform.pointer.whilePosting = [&rig, cost] { rig.platform.queue.stall(cost); };
            break;
        }
        case 'r': rig.watch.reset(); break;
        default: FAIL() << "unknown word " << word;
        }
    }
}

TEST(WatchLateMoves, MergeOnlyWhatRunsMoreThanFiftyMillisecondsLateAndNeverAcrossAClick)
{
    const struct {
        const char* name;
        const char* script;
        std::vector<Expected> events;
    } cases[] = {
        {"OnTime", "w3 a", {{M, 1}, {M, 2}, {M, 3}}},
        {"ExactlyFiftyLateIsOnTime", "w3 s50 a", {{M, 1}, {M, 2}, {M, 3}}},
        // Frames due at 0 to 90 ms all run at 200 ms.
        {"LateRunIsOneEvent", "w10 s200 a", {{M, 10}}},
        // Frames due at 0 to 40 ms run 60 ms late or more; from 50 ms on
        // they are on time again, and the merged ones go out first.
        {"LateThenOnTime", "w10 s100 a", {{M, 5}, {M, 6}, {M, 7}, {M, 8}, {M, 9}, {M, 10}}},
        {"ClickKeepsItsOwnEvents", "tw10 s200 a", {{D, 1}, {U, 2}, {M, 10}}},
        {"ClickArmedDuringTheBacklog", "w10 s200 tw0 a", {{D, 1}, {U, 2}, {M, 10}}},
        {"MergedThenClickThenMerged", "w10 s200 a tw4 s200 a", {{M, 10}, {D, 11}, {U, 12}, {M, 14}}},
        // 20 ms an event: the sixth move starts running late, and from then
        // on the pointer catches up instead of falling further behind.
        {"SlowPointerCatchesUp", "p20 w10 a",
         {{M, 1}, {M, 2}, {M, 3}, {M, 4}, {M, 5}, {M, 6}, {M, 7}, {M, 8}, {M, 10}}},
        // Each move is scaled by the sensitivity in force when it runs.
        {"SensitivityWhenMergedMovesRun", "w4 s200 k2 a", {{M, 8}}},
        {"SensitivityWhenOnTimeMovesRun", "w3 k2 a", {{M, 2}, {M, 4}, {M, 6}}},
        // The pending merged event keeps the Watch alive, like every move.
        {"MergedEventOutlivesTheLastReference", "w10 r s200 a", {{M, 10}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WatchRig rig;
        rig.platform.pointer.followsEvents = true;
        ASSERT_NO_FATAL_FAILURE(run(rig, c.script));
        std::vector<RecordingPointer::Event> expected;
        for (const Expected& e : c.events)
            expected.push_back({e.type, {e.steps * step, 0}});
        EXPECT_EQ(rig.platform.pointer.events, expected);
    }
}

// While a slow pointer has moves to post, other work on the main queue (the
// bus, say) still gets its turn after each short run, not after all of them.
TEST(WatchLateMoves, ARunOfMovesYieldsToOtherWorkDueMeanwhile)
{
    WatchRig rig;
    ASSERT_NO_FATAL_FAILURE(run(rig, "p20 w10"));
    std::vector<std::size_t> postedWhenOtherWorkRan;
    for (const auto at : {1ms, 15ms})
        rig.platform.queue.asyncAfter(at, [&] { postedWhenOtherWorkRan.push_back(rig.platform.pointer.events.size()); });
    rig.platform.queue.advance(1s);
    EXPECT_EQ(postedWhenOtherWorkRan, (std::vector<std::size_t>{1, 2}));
    EXPECT_EQ(rig.platform.pointer.events.size(), 9u);
}

} // namespace
} // namespace zt::testing
