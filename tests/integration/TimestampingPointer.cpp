#include "integration/TimestampingPointer.h"

namespace zt::test {

bool TimestampingPointer::postMouseEvent(MouseEventType type, Point location)
{
    const Clock::time_point called = Clock::now();
    const bool posted = inner_.postMouseEvent(type, location);
    posts_.push_back({type, location, called, Clock::now()});
    return posted;
}

} // namespace zt::test
