#include "link/CursorController.h"

#include <utility>

namespace zt {

CursorController::CursorController(PointerEvents& pointer) : pointer_(pointer) {}

std::optional<Point> CursorController::getCurrentCursorPosition() { return pointer_.currentLocation(); }

void CursorController::moveCursorBy(double xOffset, double yOffset)
{
    postMergedMoves();
    // Without a location there is nothing to move from; an armed click waits.
    const std::optional<Point> position = getCurrentCursorPosition();
    if (!position)
        return;

    const double gain = sensitivity * 30.0;
    const Point target{position->x + xOffset * gain, position->y + yOffset * gain};

    MouseEventType type = MouseEventType::mouseMoved;
    if (shouldMouseDown_) {
        shouldMouseDown_ = false;
        type = MouseEventType::leftMouseDown;
    } else if (shouldMouseUp_) {
        shouldMouseUp_ = false;
        type = MouseEventType::leftMouseUp;
    }
    // A flag consumed above stays consumed even if the event cannot be
    // created: retrying would post a down or up at some later location.
    pointer_.postMouseEvent(type, target);
}

void CursorController::mergeMoveBy(double xOffset, double yOffset)
{
    // Read once per merge: in between, the pointer is where the merged
    // moves would have put it, so each adds on exactly as moveCursorBy()
    // would have.
    if (!merged_)
        merged_ = getCurrentCursorPosition();
    if (!merged_)
        return;
    const double gain = sensitivity * 30.0;
    merged_->x += xOffset * gain;
    merged_->y += yOffset * gain;
}

void CursorController::postMergedMoves()
{
    if (const std::optional<Point> target = std::exchange(merged_, std::nullopt))
        pointer_.postMouseEvent(MouseEventType::mouseMoved, *target);
}

void CursorController::simulateLeftClick()
{
    shouldMouseDown_ = true;
    shouldMouseUp_ = true;
}

} // namespace zt
