#pragma once

#include <optional>

namespace zt {

// Global display coordinates; y grows downward.
struct Point {
    double x = 0;
    double y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

enum class MouseEventType { leftMouseDown = 1, leftMouseUp = 2, mouseMoved = 5 };

class PointerEvents {
public:
    virtual ~PointerEvents() = default;
    // Nothing when the pointer cannot be located (no display, say).
    virtual std::optional<Point> currentLocation() = 0;
    // Creates and posts one left-button event at `location`.
    // False when the event could not be created; nothing was posted then.
    virtual bool postMouseEvent(MouseEventType type, Point location) = 0;
};

} // namespace zt
