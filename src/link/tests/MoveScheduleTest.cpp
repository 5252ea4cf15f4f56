#include "link/MoveSchedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <random>
#include <utility>
#include <vector>

namespace zt {
namespace {

using namespace std::chrono_literals;

// A move is known by its dx: the order it was added in.
struct Add {
    std::size_t lane;
    MonoTime due;
};

// The moves in the order taken: each as its dx (the order it was added in)
// and the due time it was taken with, in ms.
std::vector<std::pair<float, long>> takeAll(MoveSchedule& schedule)
{
    std::vector<std::pair<float, long>> taken;
    while (!schedule.empty()) {
        const MoveSchedule::Move next = schedule.next();
        const MoveSchedule::Move move = schedule.take();
        EXPECT_EQ(move.dx, next.dx);
        taken.emplace_back(move.dx, std::chrono::duration_cast<std::chrono::milliseconds>(move.due).count());
    }
    return taken;
}

TEST(MoveScheduleTest, TakesTheEarliestDueFirstAndTiesInTheOrderAdded)
{
    const struct {
        const char* name;
        std::vector<Add> adds;
        std::vector<std::pair<float, long>> taken;
    } cases[] = {
        {"OneUpdate", {{0, 0ms}, {1, 10ms}, {2, 20ms}}, {{0, 0}, {1, 10}, {2, 20}}},
        // Two Updates 5 ms apart interleave frame by frame.
        {"Interleaved",
         {{0, 0ms}, {1, 10ms}, {2, 20ms}, {0, 5ms}, {1, 15ms}},
         {{0, 0}, {3, 5}, {1, 10}, {4, 15}, {2, 20}}},
        // Equal due times on different lanes: the one added first.
        {"TieAcrossLanes",
         {{5, 10ms}, {1, 10ms}, {7, 10ms}, {0, 10ms}, {3, 10ms}, {6, 10ms}, {2, 10ms}, {4, 10ms}},
         {{0, 10}, {1, 10}, {2, 10}, {3, 10}, {4, 10}, {5, 10}, {6, 10}, {7, 10}}},
        {"TieInOneLane", {{0, 10ms}, {0, 10ms}}, {{0, 10}, {1, 10}}},
        // Due before the last of its lane: taken as due with that one.
        {"EarlierThanItsLaneIsLate", {{0, 20ms}, {0, 10ms}, {1, 15ms}}, {{2, 15}, {0, 20}, {1, 20}}},
        {"ManyLanes", {{300, 3000ms}, {0, 0ms}, {299, 2990ms}}, {{1, 0}, {2, 2990}, {0, 3000}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MoveSchedule schedule;
        for (std::size_t i = 0; i < c.adds.size(); ++i)
            schedule.add(c.adds[i].lane, {c.adds[i].due, static_cast<float>(i), 0});
        EXPECT_EQ(schedule.size(), c.adds.size());
        EXPECT_EQ(takeAll(schedule), c.taken);
        EXPECT_EQ(schedule.size(), 0u);
    }
}

// Updates of random sizes handled at rising times, with takes in between,
// against a stable sort of everything by due time.
TEST(MoveScheduleTest, MatchesAStableSortUnderInterleavedAddsAndTakes)
{
    std::mt19937 random(7);
    MoveSchedule schedule;
    struct Pending {
        MonoTime due;
        float id;
    };
    std::vector<Pending> reference;
    MonoTime now{0};
    float nextId = 0;
    for (int update = 0; update < 2000; ++update) {
        now += (random() % 3) * 5ms; // 0, 5 or 10 ms later: many ties
        const int frames = static_cast<int>(random() % 12);
        for (int i = 0; i < frames; ++i) {
            const MonoTime due = now + i * 10ms;
            schedule.add(static_cast<std::size_t>(i), {due, nextId, 0});
            reference.push_back({due, nextId++});
        }
        // Take what is due by now, as a run of the Watch would.
        std::stable_sort(reference.begin(), reference.end(),
                         [](const Pending& a, const Pending& b) { return a.due < b.due; });
        while (!schedule.empty() && schedule.next().due <= now) {
            ASSERT_FALSE(reference.empty());
            ASSERT_EQ(schedule.take().dx, reference.front().id);
            reference.erase(reference.begin());
        }
        ASSERT_EQ(schedule.size(), reference.size());
    }
    for (const Pending& p : reference)
        ASSERT_EQ(schedule.take().dx, p.id);
    EXPECT_TRUE(schedule.empty());
}

} // namespace
} // namespace zt
