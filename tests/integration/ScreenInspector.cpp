#include "integration/ScreenInspector.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <bit>
#include <functional>
#include <stdexcept>

namespace zt::test {
namespace {

// Windows come and go while the tree is walked (a menu closing, say); a
// request about one that is gone must not end the test process.
int ignoreErrors(Display*, XErrorEvent*) { return 0; }

int channel(unsigned long pixel, unsigned long mask)
{
    if (mask == 0)
        return 0;
    const int shift = std::countr_zero(mask);
    const unsigned long max = mask >> shift;
    return static_cast<int>(((pixel & mask) >> shift) * 255 / max);
}

} // namespace

struct ScreenInspector::Connection {
    Display* display = nullptr;
    ~Connection()
    {
        if (display)
            XCloseDisplay(display);
    }
};

ScreenInspector::ScreenInspector(const std::string& displayName) : connection_(std::make_unique<Connection>())
{
    XSetErrorHandler(ignoreErrors);
    connection_->display = XOpenDisplay(displayName.c_str());
    if (!connection_->display)
        throw std::runtime_error("ScreenInspector: cannot open " + displayName);
}

ScreenInspector::~ScreenInspector() = default;

std::vector<ScreenInspector::Window> ScreenInspector::windows()
{
    Display* display = connection_->display;
    const ::Window root = DefaultRootWindow(display);
    std::vector<Window> found;
    std::function<void(::Window, const std::vector<std::string>&)> walk = [&](::Window parent,
                                                                             const std::vector<std::string>& above) {
        ::Window rootReturn = 0;
        ::Window parentReturn = 0;
        ::Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, parent, &rootReturn, &parentReturn, &children, &count))
            return;
        const std::vector<::Window> list(children, children + count);
        if (children)
            XFree(children);
        for (const ::Window child : list) {
            XWindowAttributes attributes;
            if (!XGetWindowAttributes(display, child, &attributes))
                continue;
            Window w;
            w.id = child;
            int x = 0;
            int y = 0;
            ::Window ignored = 0;
            XTranslateCoordinates(display, child, root, 0, 0, &x, &y, &ignored);
            w.area = {x, y, attributes.width, attributes.height};
            w.viewable = attributes.map_state == IsViewable;
            w.overrideRedirect = attributes.override_redirect;
            w.topLevel = parent == root;
            XClassHint hint{};
            if (XGetClassHint(display, child, &hint)) {
                w.wmClass = hint.res_class ? hint.res_class : "";
                if (hint.res_name)
                    XFree(hint.res_name);
                if (hint.res_class)
                    XFree(hint.res_class);
            }
            w.ancestorClasses = above;
            found.push_back(w);
            std::vector<std::string> below = above;
            if (!w.wmClass.empty())
                below.push_back(w.wmClass);
            walk(child, below);
        }
    };
    walk(root, {});
    return found;
}

QImage ScreenInspector::grab(Rect area)
{
    Display* display = connection_->display;
    XImage* image = XGetImage(display, DefaultRootWindow(display), area.x, area.y,
                              static_cast<unsigned>(area.width), static_cast<unsigned>(area.height), AllPlanes,
                              ZPixmap);
    if (!image)
        return {};
    QImage picture(area.width, area.height, QImage::Format_RGB32);
    for (int y = 0; y < area.height; ++y) {
        for (int x = 0; x < area.width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            picture.setPixel(x, y,
                             qRgb(channel(pixel, image->red_mask), channel(pixel, image->green_mask),
                                  channel(pixel, image->blue_mask)));
        }
    }
    XDestroyImage(image);
    return picture;
}

void ScreenInspector::click(int x, int y, int button)
{
    Display* display = connection_->display;
    const auto b = static_cast<unsigned>(button);
    XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
    XTestFakeButtonEvent(display, b, True, CurrentTime);
    XTestFakeButtonEvent(display, b, False, CurrentTime);
    XSync(display, False);
}

bool ScreenInspector::selectionOwned(const std::string& name)
{
    Display* display = connection_->display;
    return XGetSelectionOwner(display, XInternAtom(display, name.c_str(), False)) != 0;
}

} // namespace zt::test
