#include "backends/x11/X11PointerEvents.h"

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace zt {
namespace {

// X carries root coordinates as signed 16-bit numbers; anything outside
// would wrap to the far side of the screen.
constexpr double lowestCoordinate = -32768.0;
constexpr double highestCoordinate = 32767.0;

// libxcb writes the server's reason for refusing a connection (such as
// "Authorization required, ...") straight to file descriptor 2. A display
// we cannot open is an ordinary state here, so that line is silenced for
// the length of the one call.
class SilencedStderr {
public:
    SilencedStderr()
    {
        std::fflush(stderr);
        saved_ = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
        const int sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (saved_ >= 0 && sink >= 0)
            silenced_ = dup2(sink, STDERR_FILENO) >= 0;
        if (sink >= 0)
            close(sink);
    }
    ~SilencedStderr()
    {
        if (silenced_)
            dup2(saved_, STDERR_FILENO);
        if (saved_ >= 0)
            close(saved_);
    }
    SilencedStderr(const SilencedStderr&) = delete;
    SilencedStderr& operator=(const SilencedStderr&) = delete;

private:
    int saved_ = -1;
    bool silenced_ = false;
};

// Writing to a server that has gone raises SIGPIPE, whose default action
// ends the process. Held back on this thread for the length of one call and
// dropped if it came, so a lost server is an ordinary failed write. Left
// alone when the thread already holds it back.
class SigpipeHeldBack {
public:
    SigpipeHeldBack()
    {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t before;
        pthread_sigmask(SIG_BLOCK, &pipe_, &before);
        mine_ = sigismember(&before, SIGPIPE) == 0;
    }
    ~SigpipeHeldBack()
    {
        if (!mine_)
            return;
        const timespec none{};
        for (;;) {
            const int taken = sigtimedwait(&pipe_, nullptr, &none);
            if (taken != SIGPIPE && !(taken < 0 && errno == EINTR))
                break;
        }
        pthread_sigmask(SIG_UNBLOCK, &pipe_, nullptr);
    }
    SigpipeHeldBack(const SigpipeHeldBack&) = delete;
    SigpipeHeldBack& operator=(const SigpipeHeldBack&) = delete;

private:
    sigset_t pipe_;
    bool mine_ = false;
};

double carried(double coordinate)
{
    return std::clamp(coordinate, lowestCoordinate, highestCoordinate);
}

} // namespace

struct X11PointerEvents::Connection {
    xcb_connection_t* xcb = nullptr;
    xcb_window_t root = 0;
    bool canPost = false;
    // Where we last put the pointer: the whole position X was given and the
    // precise target it stood for. Along each axis where the pointer is
    // still there, the fraction carries into the next move, so slow turns
    // still add up, also along a screen edge that holds the other axis.
    struct Placement {
        int x;
        int y;
        Point precise;
    };
    std::optional<Placement> last;

    ~Connection() { xcb_disconnect(xcb); }

    bool broken() const { return xcb_connection_has_error(xcb) != 0; }

    // Nothing here asks for events, but the server may still send some (a
    // mapping change, an error): keep them from piling up.
    void dropQueuedEvents() const
    {
        while (xcb_generic_event_t* event = xcb_poll_for_queued_event(xcb))
            std::free(event);
    }

    static std::unique_ptr<Connection> open(const std::optional<std::string>& name)
    {
        auto connection = std::make_unique<Connection>();
        int screen = 0;
        {
            const SilencedStderr quiet;
            connection->xcb = xcb_connect(name ? name->c_str() : nullptr, &screen);
        }
        if (connection->broken())
            return nullptr;
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection->xcb));
        for (int i = 0; i < screen && screens.rem > 0; ++i)
            xcb_screen_next(&screens);
        if (screens.rem <= 0)
            return nullptr;
        connection->root = screens.data->root;
        const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(connection->xcb, &xcb_test_id);
        connection->canPost = xtest && xtest->present;
        if (connection->broken())
            return nullptr;
        return connection;
    }
};

X11PointerEvents::X11PointerEvents(std::optional<std::string> displayName,
                                   std::chrono::milliseconds reconnectInterval)
    : displayName_(std::move(displayName)),
      reconnectInterval_(reconnectInterval),
      lastAttempt_(std::chrono::steady_clock::now())
{
    const SigpipeHeldBack held;
    connection_ = Connection::open(displayName_);
}

X11PointerEvents::~X11PointerEvents() = default;

X11PointerEvents::Connection* X11PointerEvents::connection()
{
    const auto now = std::chrono::steady_clock::now();
    if (connection_ && connection_->broken()) {
        // The loss starts the wait before the next try: a server that just
        // ended is not back yet.
        connection_.reset();
        lastAttempt_ = now;
    }
    if (!connection_ && now - lastAttempt_ >= reconnectInterval_) {
        lastAttempt_ = now;
        connection_ = Connection::open(displayName_);
    }
    return connection_.get();
}

std::optional<Point> X11PointerEvents::currentLocation()
{
    const SigpipeHeldBack held;
    Connection* connection = this->connection();
    if (!connection)
        return std::nullopt;
    xcb_generic_error_t* error = nullptr;
    xcb_query_pointer_reply_t* reply =
        xcb_query_pointer_reply(connection->xcb, xcb_query_pointer(connection->xcb, connection->root), &error);
    std::free(error);
    connection->dropQueuedEvents();
    if (!reply)
        return std::nullopt; // the server went away; the next call lets the connection go
    // The root coordinates are filled in even when the pointer is on another
    // screen; they are then that screen's, where XTest moves it too.
    const int rootX = reply->root_x;
    const int rootY = reply->root_y;
    std::free(reply);
    Point location{static_cast<double>(rootX), static_cast<double>(rootY)};
    if (const auto& last = connection->last) {
        if (last->x == rootX)
            location.x = last->precise.x;
        if (last->y == rootY)
            location.y = last->precise.y;
    }
    return location;
}

bool X11PointerEvents::postMouseEvent(MouseEventType type, Point location)
{
    const SigpipeHeldBack held;
    Connection* connection = this->connection();
    if (!connection || !connection->canPost)
        return false;
    // A coordinate that is not a number, or infinite, has no place to go:
    // that axis stays where the pointer is, fraction included.
    if (!std::isfinite(location.x) || !std::isfinite(location.y)) {
        const Point here = currentLocation().value_or(Point{});
        if (!std::isfinite(location.x))
            location.x = here.x;
        if (!std::isfinite(location.y))
            location.y = here.y;
    }
    const Point precise{carried(location.x), carried(location.y)};
    // Nearest rather than truncated: a sum of small steps that falls a hair
    // short of a whole number still lands on it.
    const int x = static_cast<int>(std::lround(precise.x));
    const int y = static_cast<int>(std::lround(precise.y));

    // Root none: the screen the pointer is on. Detail 0: absolute motion.
    xcb_test_fake_input(connection->xcb, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, XCB_NONE, static_cast<int16_t>(x),
                        static_cast<int16_t>(y), 0);
    if (type == MouseEventType::leftMouseDown || type == MouseEventType::leftMouseUp)
        xcb_test_fake_input(connection->xcb, type == MouseEventType::leftMouseDown ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE,
                            XCB_BUTTON_INDEX_1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    if (xcb_flush(connection->xcb) <= 0)
        return false;
    connection->last = Connection::Placement{x, y, precise};
    return true;
}

} // namespace zt
