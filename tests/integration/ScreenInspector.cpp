#include "integration/ScreenInspector.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <stdexcept>

namespace zt::test {
namespace {

// Windows come and go while the tree is walked (a menu closing, say); a
// request about one that is gone must not end the test process.
int ignoreErrors(Display*, XErrorEvent*) { return 0; }

} // namespace

ScreenInspector::ScreenInspector(const std::string& displayName)
    : display_(XOpenDisplay(displayName.c_str()), XCloseDisplay)
{
    if (!display_)
        throw std::runtime_error("cannot open display " + displayName);
}

std::vector<ScreenInspector::Window> ScreenInspector::windows()
{
    const auto previous = XSetErrorHandler(ignoreErrors);
    std::vector<Window> found;
    walk(DefaultRootWindow(display_.get()), {}, found);
    XSetErrorHandler(previous);
    return found;
}

void ScreenInspector::walk(unsigned long parent, const std::vector<std::string>& above, std::vector<Window>& found)
{
    Display* display = display_.get();
    const ::Window root = DefaultRootWindow(display);
    ::Window ignored = 0;
    ::Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, parent, &ignored, &ignored, &children, &count))
        return;
    const std::vector<::Window> list(children, children + count);
    XFree(children);
    for (const ::Window child : list) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display, child, &attributes))
            continue;
        Window w;
        XTranslateCoordinates(display, child, root, 0, 0, &w.area.x, &w.area.y, &ignored);
        w.area.width = attributes.width;
        w.area.height = attributes.height;
        w.viewable = attributes.map_state == IsViewable;
        w.overrideRedirect = attributes.override_redirect;
        w.topLevel = parent == root;
        if (XClassHint hint{}; XGetClassHint(display, child, &hint)) {
            w.wmClass = hint.res_class ? hint.res_class : "";
            XFree(hint.res_name);
            XFree(hint.res_class);
        }
        w.ancestorClasses = above;
        found.push_back(w);
        std::vector<std::string> below = above;
        if (!w.wmClass.empty())
            below.push_back(w.wmClass);
        walk(child, below, found);
    }
}

QImage ScreenInspector::grab(Rect area)
{
    const auto previous = XSetErrorHandler(ignoreErrors);
    XImage* image = XGetImage(display_.get(), DefaultRootWindow(display_.get()), area.x, area.y,
                              static_cast<unsigned>(area.width), static_cast<unsigned>(area.height), AllPlanes,
                              ZPixmap);
    XSetErrorHandler(previous);
    if (!image)
        return {};
    // A 24-bit Xvfb screen keeps each pixel in 32 bits as 0x00RRGGBB: RGB32 as it is.
    const QImage picture = QImage(reinterpret_cast<const uchar*>(image->data), area.width, area.height,
                                  image->bytes_per_line, QImage::Format_RGB32)
                               .copy();
    XDestroyImage(image);
    return picture;
}

void ScreenInspector::click(int x, int y, int button)
{
    const auto b = static_cast<unsigned>(button);
    XTestFakeMotionEvent(display_.get(), -1, x, y, CurrentTime);
    XTestFakeButtonEvent(display_.get(), b, True, CurrentTime);
    XTestFakeButtonEvent(display_.get(), b, False, CurrentTime);
    XSync(display_.get(), False);
}

bool ScreenInspector::selectionOwned(const std::string& name)
{
    return XGetSelectionOwner(display_.get(), XInternAtom(display_.get(), name.c_str(), False)) != 0;
}

void ScreenInspector::announceWindowManager()
{
    Display* display = display_.get();
    const ::Window root = DefaultRootWindow(display);
    ::Window check = XCreateSimpleWindow(display, root, -10, -10, 1, 1, 0, 0, 0);
    const auto set = [&](::Window w, const char* name, Atom type, int format, const void* value, int n) {
        XChangeProperty(display, w, XInternAtom(display, name, False), type, format, PropModeReplace,
                        static_cast<const unsigned char*>(value), n);
    };
    set(check, "_NET_SUPPORTING_WM_CHECK", XA_WINDOW, 32, &check, 1);
    set(check, "_NET_WM_NAME", XInternAtom(display, "UTF8_STRING", False), 8, "integration", 11);
    set(root, "_NET_SUPPORTING_WM_CHECK", XA_WINDOW, 32, &check, 1);
    const long desktops = 1;
    const long current = 0;
    set(root, "_NET_NUMBER_OF_DESKTOPS", XA_CARDINAL, 32, &desktops, 1);
    set(root, "_NET_CURRENT_DESKTOP", XA_CARDINAL, 32, &current, 1);
    XSync(display, False);
}

void ScreenInspector::watchPointer(Rect area)
{
    Display* display = display_.get();
    XSetWindowAttributes attributes{};
    attributes.background_pixel = WhitePixel(display, DefaultScreen(display));
    attributes.event_mask = ButtonPressMask | ButtonReleaseMask | PointerMotionMask | StructureNotifyMask;
    // Override-redirect: placed exactly where asked, with or without a
    // window manager.
    attributes.override_redirect = True;
    window_ = XCreateWindow(display, DefaultRootWindow(display), area.x, area.y, static_cast<unsigned>(area.width),
                            static_cast<unsigned>(area.height), 0, CopyFromParent, InputOutput, CopyFromParent,
                            CWBackPixel | CWEventMask | CWOverrideRedirect, &attributes);
    XMapRaised(display, window_);
    // Mapped before anything moves the pointer over it.
    for (XEvent e{}; e.type != MapNotify;)
        XWindowEvent(display, window_, StructureNotifyMask, &e);
}

void ScreenInspector::warp(int x, int y)
{
    XWarpPointer(display_.get(), 0, DefaultRootWindow(display_.get()), 0, 0, 0, 0, x, y);
    pointerEvents();
    events_.clear();
}

const std::vector<PointerEvent>& ScreenInspector::pointerEvents()
{
    Display* display = display_.get();
    XSync(display, False);
    while (XPending(display) > 0) {
        XEvent e;
        XNextEvent(display, &e);
        if (e.type == MotionNotify)
            events_.push_back({PointerEvent::Kind::motion, e.xmotion.x_root, e.xmotion.y_root});
        if (e.type == ButtonPress || e.type == ButtonRelease)
            events_.push_back({e.xbutton.button != Button1 ? PointerEvent::Kind::otherButton
                               : e.type == ButtonPress   ? PointerEvent::Kind::press
                                                         : PointerEvent::Kind::release,
                               e.xbutton.x_root, e.xbutton.y_root});
    }
    return events_;
}

} // namespace zt::test
