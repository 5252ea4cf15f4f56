#pragma once

#include "link/platform/PointerEvents.h"

#include <optional>

namespace zt {

// Turns relative offsets into pointer events. A click armed with
// simulateLeftClick() rides on the next two moves: the first posts the
// button down, the second the button up, each at the location it moved to.
//
// Moves that would only replay stale motion can be merged instead: each
// mergeMoveBy() carries the pointer on from where the one before left it,
// and one mouse-moved event goes to where they end, before any other event
// (so never across a click) or at postMergedMoves().
class CursorController {
public:
    explicit CursorController(PointerEvents& pointer);
    CursorController(const CursorController&) = delete;
    CursorController& operator=(const CursorController&) = delete;

    // Gain factor; every offset is scaled by sensitivity x 30. Not range-checked.
    double sensitivity = 1.0;

    std::optional<Point> getCurrentCursorPosition();
    void moveCursorBy(double xOffset, double yOffset);
    void simulateLeftClick();

    // Whether the next move posts a button down or up.
    bool clickDue() const { return shouldMouseDown_ || shouldMouseUp_; }
    // As moveCursorBy() with the sensitivity in force now, but the event
    // waits. Call only while no click is due.
    void mergeMoveBy(double xOffset, double yOffset);
    void postMergedMoves();

private:
    PointerEvents& pointer_;
    bool shouldMouseDown_ = false;
    bool shouldMouseUp_ = false;
    // Where the merged moves have taken the pointer so far.
    std::optional<Point> merged_;
};

} // namespace zt
