#pragma once

#include "link/platform/PointerEvents.h"

#include <memory>
#include <optional>
#include <string>

namespace zt {

// The pointer of an X display, moved and clicked through the XTest
// extension. Without a display every call finds no location and posts
// nothing. The X headers stay in the .cpp: their macros (None, Status,
// Bool, ...) clash with other code.
class X11PointerEvents final : public PointerEvents {
public:
    // Opens `displayName`, or $DISPLAY when none is given.
    explicit X11PointerEvents(std::optional<std::string> displayName = std::nullopt);
    ~X11PointerEvents() override;
    X11PointerEvents(const X11PointerEvents&) = delete;
    X11PointerEvents& operator=(const X11PointerEvents&) = delete;

    std::optional<Point> currentLocation() override;
    bool postMouseEvent(MouseEventType type, Point location) override;

private:
    struct Connection;
    std::unique_ptr<Connection> connection_;
};

} // namespace zt
