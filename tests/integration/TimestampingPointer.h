#pragma once

#include "link/platform/PointerEvents.h"

#include <chrono>
#include <vector>

namespace zt::test {

// Passes every call on to the real pointer and notes when each event was
// handed over and when the pointer was done with it.
class TimestampingPointer final : public PointerEvents {
public:
    using Clock = std::chrono::steady_clock;
    struct Post {
        MouseEventType type;
        Point location;
        Clock::time_point called;
        Clock::time_point returned;
    };

    explicit TimestampingPointer(PointerEvents& inner) : inner_(inner) {}

    std::optional<Point> currentLocation() override { return inner_.currentLocation(); }
    bool postMouseEvent(MouseEventType type, Point location) override;

    const std::vector<Post>& posts() const { return posts_; }

private:
    PointerEvents& inner_;
    std::vector<Post> posts_;
};

} // namespace zt::test
