#include "bench/PointerWatch.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <poll.h>
#include <time.h>

#include <algorithm>
#include <stdexcept>

namespace zt::test {
namespace {

_XDisplay* open(const std::string& displayName)
{
    _XDisplay* display = XOpenDisplay(displayName.c_str());
    if (!display)
        throw std::runtime_error("cannot open display " + displayName);
    return display;
}

// Whether `fd` turned readable before `deadline`, to the microsecond.
bool readable(int fd, PointerWatch::Clock::time_point deadline)
{
    const auto left = std::max(deadline - PointerWatch::Clock::now(), PointerWatch::Clock::duration::zero());
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
    const timespec timeout{static_cast<time_t>(seconds.count()),
                           static_cast<long>(std::chrono::nanoseconds(left - seconds).count())};
    pollfd p{fd, POLLIN, 0};
    return ppoll(&p, 1, &timeout, nullptr) > 0;
}

} // namespace

PointerWatch::PointerWatch(const std::string& displayName)
    : watcher_(open(displayName), XCloseDisplay), poster_(open(displayName), XCloseDisplay)
{
    int ignored = 0;
    if (!XTestQueryExtension(poster_.get(), &ignored, &ignored, &ignored, &ignored))
        throw std::runtime_error("no XTest on " + displayName);
    Display* display = watcher_.get();
    const int screen = DefaultScreen(display);
    XSetWindowAttributes attributes{};
    attributes.event_mask = PointerMotionMask | StructureNotifyMask;
    // Override-redirect and on top: every motion anywhere reaches it.
    attributes.override_redirect = True;
    const ::Window window = XCreateWindow(display, RootWindow(display, screen), 0, 0,
                                          static_cast<unsigned>(DisplayWidth(display, screen)),
                                          static_cast<unsigned>(DisplayHeight(display, screen)), 0, 0, InputOnly,
                                          CopyFromParent, CWEventMask | CWOverrideRedirect, &attributes);
    XMapRaised(display, window);
    for (XEvent e{}; e.type != MapNotify;)
        XWindowEvent(display, window, StructureNotifyMask, &e);
}

PointerWatch::~PointerWatch() = default;

int PointerWatch::fd() const { return ConnectionNumber(watcher_.get()); }

void PointerWatch::read()
{
    Display* display = watcher_.get();
    // XPending reads what the socket holds without waiting.
    for (int pending = XPending(display); pending > 0; pending = XPending(display)) {
        const Clock::time_point seen = Clock::now();
        for (; pending > 0; --pending) {
            XEvent e;
            XNextEvent(display, &e);
            if (e.type == MotionNotify) {
                last_ = Motion{seen, e.xmotion.x_root, e.xmotion.y_root};
                if (keeping_)
                    motions_.push_back(*last_);
                ++total_;
            }
        }
    }
}

void PointerWatch::readUntil(Clock::time_point deadline, const std::function<bool()>& done)
{
    read();
    while (!(done && done()) && Clock::now() < deadline) {
        if (readable(fd(), deadline))
            read();
    }
}

bool PointerWatch::waitForMotions(std::size_t count, Clock::time_point deadline)
{
    readUntil(deadline, [&] { return motions_.size() >= count; });
    return motions_.size() >= count;
}

bool PointerWatch::waitForQuiet(Clock::time_point since, Clock::duration quiet, Clock::time_point deadline)
{
    read();
    for (;;) {
        const Clock::time_point from = last_ ? std::max(since, last_->seen) : since;
        if (Clock::now() >= from + quiet)
            return true;
        if (from + quiet > deadline)
            return false;
        if (readable(fd(), from + quiet))
            read();
    }
}

void PointerWatch::warp(int x, int y)
{
    Display* display = watcher_.get();
    XWarpPointer(display, 0, DefaultRootWindow(display), 0, 0, 0, 0, x, y);
    XSync(display, False);
    read();
    motions_.clear();
    total_ = 0;
    last_.reset();
}

void PointerWatch::post(int x, int y)
{
    XTestFakeMotionEvent(poster_.get(), -1, x, y, CurrentTime);
    XFlush(poster_.get());
}

} // namespace zt::test
