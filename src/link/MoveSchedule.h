#pragma once

#include "link/platform/MainQueue.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace zt {

// Pending pointer moves in due order: earliest first, ties in the order
// added. Each move comes with its lane, the index of its frame within its
// Update: frame i of every Update falls due 10 ms x i after the Update was
// handled, so the moves of one lane arrive in due order. One queue per lane
// and a heap over the lanes' first moves keep adding and taking a move
// cheap however many wait (a backlog of a million costs no more per move
// than ten).
class MoveSchedule {
public:
    struct Move {
        MonoTime due;
        float dx = 0;
        float dy = 0;
    };

    // A move due earlier than the last one of its lane is taken as due with
    // that one: late, never out of order.
    void add(std::size_t lane, Move move);
    bool empty() const { return fronts_.empty(); }
    std::size_t size() const { return size_; }
    // The move due first; only when not empty.
    const Move& next() const;
    Move take();

private:
    struct Entry {
        Move move;
        std::uint64_t order;
    };
    struct Front {
        MonoTime due;
        std::uint64_t order;
        std::size_t lane;
    };
    static bool dueLater(const Front& a, const Front& b);
    void pushFront(std::size_t lane);

    std::vector<std::deque<Entry>> lanes_;
    std::vector<Front> fronts_; // a heap: one entry per lane with moves
    std::uint64_t nextOrder_ = 0;
    std::size_t size_ = 0;
};

} // namespace zt
