#include "backends/x11/X11PointerEvents.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

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

Display* openDisplay(const std::optional<std::string>& name)
{
    const SilencedStderr quiet;
    return XOpenDisplay(name ? name->c_str() : nullptr);
}

double carried(double coordinate)
{
    return std::clamp(coordinate, lowestCoordinate, highestCoordinate);
}

} // namespace

struct X11PointerEvents::Connection {
    Display* display = nullptr;
    bool canPost = false;
    // Where we last put the pointer: the whole position X was given and the
    // precise target it stood for. While the pointer stays there, the
    // fraction carries into the next move, so slow turns still add up.
    struct Placement {
        int x;
        int y;
        Point precise;
    };
    std::optional<Placement> last;

    ~Connection()
    {
        if (display)
            XCloseDisplay(display);
    }
};

X11PointerEvents::X11PointerEvents(std::optional<std::string> displayName)
    : connection_(std::make_unique<Connection>())
{
    connection_->display = openDisplay(displayName);
    if (!connection_->display)
        return;
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    connection_->canPost = XTestQueryExtension(connection_->display, &eventBase, &errorBase, &major, &minor);
}

X11PointerEvents::~X11PointerEvents() = default;

std::optional<Point> X11PointerEvents::currentLocation()
{
    Display* display = connection_->display;
    if (!display)
        return std::nullopt;
    Window root = 0;
    Window child = 0;
    int rootX = 0;
    int rootY = 0;
    int windowX = 0;
    int windowY = 0;
    unsigned int buttons = 0;
    // The root coordinates are filled in even when the pointer is on another
    // screen; they are then that screen's, where XTest moves it too.
    XQueryPointer(display, DefaultRootWindow(display), &root, &child, &rootX, &rootY, &windowX, &windowY, &buttons);
    const auto& last = connection_->last;
    if (last && last->x == rootX && last->y == rootY)
        return last->precise;
    return Point{static_cast<double>(rootX), static_cast<double>(rootY)};
}

bool X11PointerEvents::postMouseEvent(MouseEventType type, Point location)
{
    Display* display = connection_->display;
    if (!display || !connection_->canPost)
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

    // Screen -1: the screen the pointer is on.
    XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
    if (type == MouseEventType::leftMouseDown || type == MouseEventType::leftMouseUp)
        XTestFakeButtonEvent(display, Button1, type == MouseEventType::leftMouseDown ? True : False, CurrentTime);
    // Waits for the server: once this returns the event has been acted on,
    // also as seen from other connections.
    XSync(display, False);
    connection_->last = Connection::Placement{x, y, precise};
    return true;
}

} // namespace zt
