#pragma once

#include "link/platform/PointerEvents.h"

#include <optional>

namespace zt {

// Turns relative offsets into pointer events. A click armed with
// simulateLeftClick() rides on the next two moves: the first posts the
// button down, the second the button up, each at the location it moved to.
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

private:
    PointerEvents& pointer_;
    bool shouldMouseDown_ = false;
    bool shouldMouseUp_ = false;
};

} // namespace zt
