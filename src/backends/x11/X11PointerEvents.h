#pragma once

#include "link/platform/PointerEvents.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace zt {

// The pointer of an X display, moved and clicked through the XTest
// extension. Without a display every call finds no location and posts
// nothing. A display that goes away (the server ended or restarted) is the
// same as none, and is looked for again, at most once per
// `reconnectInterval`, whenever the pointer is wanted.
//
// Spoken through XCB rather than Xlib: a lost connection is then an error
// code, where Xlib calls a process-wide handler that ends the process. The
// X headers stay in the .cpp.
class X11PointerEvents final : public PointerEvents {
public:
    static constexpr std::chrono::milliseconds defaultReconnectInterval{1000};

    // Opens `displayName`, or $DISPLAY when none is given.
    explicit X11PointerEvents(std::optional<std::string> displayName = std::nullopt,
                              std::chrono::milliseconds reconnectInterval = defaultReconnectInterval);
    ~X11PointerEvents() override;
    X11PointerEvents(const X11PointerEvents&) = delete;
    X11PointerEvents& operator=(const X11PointerEvents&) = delete;

    // One round trip to the server.
    std::optional<Point> currentLocation() override;
    // Sends the event without waiting for the server: it takes requests in
    // order, so the next location read on this connection already sees it.
    bool postMouseEvent(MouseEventType type, Point location) override;

private:
    struct Connection;
    // The live connection, after dropping a broken one or trying anew if
    // the interval allows; nullptr when there is none.
    Connection* connection();

    const std::optional<std::string> displayName_;
    const std::chrono::milliseconds reconnectInterval_;
    std::chrono::steady_clock::time_point lastAttempt_;
    std::unique_ptr<Connection> connection_;
};

} // namespace zt
