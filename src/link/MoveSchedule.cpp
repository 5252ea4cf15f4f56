#include "link/MoveSchedule.h"

#include <algorithm>

namespace zt {
namespace {

// Lanes kept when all are empty again: those of Updates of a usual size.
constexpr std::size_t kLanesKept = 64;

} // namespace

bool MoveSchedule::dueLater(const Front& a, const Front& b)
{
    return a.due != b.due ? a.due > b.due : a.order > b.order;
}

void MoveSchedule::pushFront(std::size_t lane)
{
    const Entry& first = lanes_[lane].front();
    fronts_.push_back(Front{first.move.due, first.order, lane});
    std::push_heap(fronts_.begin(), fronts_.end(), dueLater);
}

void MoveSchedule::add(std::size_t lane, Move move)
{
    if (lane >= lanes_.size())
        lanes_.resize(lane + 1);
    std::deque<Entry>& queue = lanes_[lane];
    if (!queue.empty())
        move.due = std::max(move.due, queue.back().move.due);
    queue.push_back(Entry{move, nextOrder_++});
    ++size_;
    if (queue.size() == 1)
        pushFront(lane);
}

const MoveSchedule::Move& MoveSchedule::next() const { return lanes_[fronts_.front().lane].front().move; }

MoveSchedule::Move MoveSchedule::take()
{
    std::pop_heap(fronts_.begin(), fronts_.end(), dueLater);
    const std::size_t lane = fronts_.back().lane;
    fronts_.pop_back();
    std::deque<Entry>& queue = lanes_[lane];
    const Move move = queue.front().move;
    queue.pop_front();
    --size_;
    if (!queue.empty())
        pushFront(lane);
    else if (size_ == 0 && lanes_.size() > kLanesKept)
        lanes_.resize(kLanesKept);
    return move;
}

} // namespace zt
