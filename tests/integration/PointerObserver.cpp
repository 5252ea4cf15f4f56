#include "integration/PointerObserver.h"

#include <X11/Xlib.h>

#include <stdexcept>

namespace zt::test {

struct PointerObserver::Connection {
    Display* display = nullptr;
    Window window = 0;
    ~Connection()
    {
        if (display)
            XCloseDisplay(display);
    }
};

PointerObserver::PointerObserver(const std::string& displayName, Rect area)
    : connection_(std::make_unique<Connection>())
{
    Display* display = XOpenDisplay(displayName.c_str());
    if (!display)
        throw std::runtime_error("PointerObserver: cannot open " + displayName);
    connection_->display = display;
    XSetWindowAttributes attributes{};
    attributes.background_pixel = WhitePixel(display, DefaultScreen(display));
    attributes.event_mask = ButtonPressMask | ButtonReleaseMask | PointerMotionMask | StructureNotifyMask;
    // Override-redirect: placed exactly where asked, with or without a
    // window manager.
    attributes.override_redirect = True;
    connection_->window = XCreateWindow(display, DefaultRootWindow(display), area.x, area.y,
                                        static_cast<unsigned>(area.width), static_cast<unsigned>(area.height), 0,
                                        CopyFromParent, InputOutput, CopyFromParent,
                                        CWBackPixel | CWEventMask | CWOverrideRedirect, &attributes);
    XMapRaised(display, connection_->window);
    // Mapped before anything moves the pointer over it.
    for (;;) {
        XEvent e;
        XWindowEvent(display, connection_->window, StructureNotifyMask, &e);
        if (e.type == MapNotify)
            break;
    }
}

PointerObserver::~PointerObserver() = default;

void PointerObserver::warp(int x, int y)
{
    Display* display = connection_->display;
    XWarpPointer(display, 0, DefaultRootWindow(display), 0, 0, 0, 0, x, y);
    XSync(display, False);
    events();
    events_.clear();
}

const std::vector<PointerEvent>& PointerObserver::events()
{
    Display* display = connection_->display;
    XSync(display, False);
    while (XPending(display) > 0) {
        XEvent e;
        XNextEvent(display, &e);
        switch (e.type) {
        case MotionNotify:
            events_.push_back({PointerEvent::Kind::motion, e.xmotion.x_root, e.xmotion.y_root});
            break;
        case ButtonPress:
        case ButtonRelease:
            events_.push_back({e.xbutton.button != Button1 ? PointerEvent::Kind::otherButton
                               : e.type == ButtonPress   ? PointerEvent::Kind::press
                                                         : PointerEvent::Kind::release,
                               e.xbutton.x_root, e.xbutton.y_root});
            break;
        default:
            break;
        }
    }
    return events_;
}

} // namespace zt::test
