#pragma once

#include "link/platform/PointerEvents.h"

#include <cstddef>
#include <optional>
#include <vector>

namespace zt::testing {

// A pointer that keeps every event it posted. The location is settable;
// by default a posted event moves it, as a real pointer would.
class RecordingPointer : public PointerEvents {
public:
    struct Event {
        MouseEventType type;
        Point location;
        friend bool operator==(const Event&, const Event&) = default;
    };

    std::optional<Point> currentLocation() override;
    bool postMouseEvent(MouseEventType type, Point location) override;

    // What currentLocation() reports; empty: the pointer cannot be located.
    std::optional<Point> location = Point{0, 0};
    // Makes postMouseEvent() fail as if the event could not be created.
    bool failEventCreation = false;
    // Whether a posted event moves `location` to where it was posted.
    bool followsEvents = true;

    std::vector<Event> events;
    std::size_t locationReads = 0;
    std::size_t failedPosts = 0;
};

} // namespace zt::testing
