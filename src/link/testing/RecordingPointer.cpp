#include "link/testing/RecordingPointer.h"

namespace zt::testing {

std::optional<Point> RecordingPointer::currentLocation()
{
    ++locationReads;
    return location;
}

bool RecordingPointer::postMouseEvent(MouseEventType type, Point where)
{
    if (failEventCreation) {
        ++failedPosts;
        return false;
    }
    events.push_back(Event{type, where});
    if (followsEvents)
        location = where;
    return true;
}

} // namespace zt::testing
