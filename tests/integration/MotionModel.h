#pragma once

#include "watch_output.pb.h"

#include <ostream>
#include <vector>

namespace zt::test {

// One event as an X client sees it: a move to a whole pixel, or the left
// button down or up there (otherButton: any other, which nothing may cause).
struct PointerEvent {
    enum class Kind { motion, press, release, otherButton };
    Kind kind;
    int x;
    int y;
    friend bool operator==(const PointerEvent&, const PointerEvent&) = default;
};

std::ostream& operator<<(std::ostream& out, const PointerEvent& event);

// What the watch's Updates should do to the pointer of an X display, worked
// out independently of the link: the same single-precision filter and
// projection, the gain in double precision, and the X pointer that carries
// the fraction of each move into the next while nobody else moves it.
// Assumes the moves of each Update have all run before the next is written.
class MotionModel {
public:
    MotionModel(int startX, int startY) : preciseX_(startX), preciseY_(startY) {}

    void apply(const Update& update);

    const std::vector<PointerEvent>& expected() const { return expected_; }
    // postMouseEvent calls the link should have made so far.
    int moves() const { return moves_; }

private:
    void move(float dx, float dy);

    float alpha_ = 0;
    float gyroX_ = 0;
    float gyroY_ = 0;
    float gyroZ_ = 0;
    ZimtorvaInfo settings_;
    bool active_ = true;
    double sensitivity_ = 1.0;
    bool downDue_ = false;
    bool upDue_ = false;

    double preciseX_;
    double preciseY_;
    int moves_ = 0;
    std::vector<PointerEvent> expected_;
};

} // namespace zt::test
