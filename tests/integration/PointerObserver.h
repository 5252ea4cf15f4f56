#pragma once

#include "integration/MotionModel.h"

#include <memory>
#include <string>
#include <vector>

namespace zt::test {

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

// An X client of its own that watches the pointer the way an application
// would: a window over `area` that selects motion and button events.
class PointerObserver {
public:
    PointerObserver(const std::string& displayName, Rect area);
    ~PointerObserver();
    PointerObserver(const PointerObserver&) = delete;
    PointerObserver& operator=(const PointerObserver&) = delete;

    // Puts the pointer at (x, y) and forgets every event so far.
    void warp(int x, int y);
    // Every event delivered to the window so far, in order.
    const std::vector<PointerEvent>& events();

private:
    struct Connection;
    std::unique_ptr<Connection> connection_;
    std::vector<PointerEvent> events_;
};

} // namespace zt::test
