#include "link/CursorController.h"

namespace zt {

CursorController::CursorController(PointerEvents& pointer) : pointer_(pointer) {}

std::optional<Point> CursorController::getCurrentCursorPosition() { return pointer_.currentLocation(); }

void CursorController::moveCursorBy(double xOffset, double yOffset)
{
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

void CursorController::simulateLeftClick()
{
    shouldMouseDown_ = true;
    shouldMouseUp_ = true;
}

} // namespace zt
