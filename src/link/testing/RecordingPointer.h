#pragma once

#include "link/platform/PointerEvents.h"

#include <functional>
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

    std::optional<Point> currentLocation() override { return location; }
    bool postMouseEvent(MouseEventType type, Point location) override;

    // Empty: the pointer cannot be located.
    std::optional<Point> location = Point{0, 0};
    // Makes postMouseEvent() fail as if the event could not be created.
    bool failEventCreation = false;
    bool followsEvents = true;
    // Runs inside every post, after it is recorded: a pointer that takes
    // time (FakeMainQueue::stall), say.
    std::function<void()> whilePosting;

    std::vector<MouseEventType> eventTypes() const
    {
        std::vector<MouseEventType> types;
        for (const Event& e : events)
            types.push_back(e.type);
        return types;
    }

    std::vector<Event> events;
    std::vector<MouseEventType> failedPosts;
};

} // namespace zt::testing
