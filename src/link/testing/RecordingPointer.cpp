#include "link/testing/RecordingPointer.h"

namespace zt::testing {

bool RecordingPointer::postMouseEvent(MouseEventType type, Point where)
{
    if (failEventCreation) {
        failedPosts.push_back(type);
        return false;
    }
    events.push_back(Event{type, where});
    if (followsEvents)
        location = where;
    if (whilePosting)
        whilePosting();
    return true;
}

} // namespace zt::testing
