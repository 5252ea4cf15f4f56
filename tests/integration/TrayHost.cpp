#include "integration/TrayHost.h"

#include "integration/ScreenInspector.h"
#include "integration/WaitUntil.h"

#include <QFile>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <stdexcept>

namespace zt::test {
namespace {

const char* const configuration = R"(# systray only: no clock, no taskbar, nothing that changes by itself
background_color = #808080 100
border_width = 0
panel_items = S
panel_size = 100% 32
panel_margin = 0 0
panel_padding = 4 0 4
panel_background_id = 1
panel_position = bottom left horizontal
panel_layer = top
panel_dock = 0
panel_monitor = all
wm_menu = 0
strut_policy = none
autohide = 0
disable_transparency = 1
mouse_effects = 0
systray_padding = 4 4 4
systray_background_id = 0
systray_sort = left2right
systray_icon_size = 24
systray_icon_asb = 100 0 0
systray_monitor = 1
)";

} // namespace

// Holds the stand-in of a window manager. Without one announced, tint2
// waits about fifteen seconds for a manager before it shows its panel.
struct TrayHost::Connection {
    Display* display = nullptr;
    ~Connection()
    {
        if (display)
            XCloseDisplay(display);
    }
};

TrayHost::TrayHost(const std::string& displayName)
    : connection_(std::make_unique<Connection>()), displayName_(displayName)
{
    Display* display = XOpenDisplay(displayName.c_str());
    if (!display)
        throw std::runtime_error("TrayHost: cannot open " + displayName);
    connection_->display = display;
    const Window root = DefaultRootWindow(display);
    Window check = XCreateSimpleWindow(display, root, -10, -10, 1, 1, 0, 0, 0);
    const Atom supportingCheck = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    XChangeProperty(display, check, supportingCheck, XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&check), 1);
    const char name[] = "integration";
    XChangeProperty(display, check, XInternAtom(display, "_NET_WM_NAME", False),
                    XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(name), sizeof name - 1);
    XChangeProperty(display, root, supportingCheck, XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&check), 1);
    long desktops = 1;
    long current = 0;
    XChangeProperty(display, root, XInternAtom(display, "_NET_NUMBER_OF_DESKTOPS", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&desktops), 1);
    XChangeProperty(display, root, XInternAtom(display, "_NET_CURRENT_DESKTOP", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&current), 1);
    XSync(display, False);

    const QString configPath = directory_.filePath(QStringLiteral("tint2rc"));
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly) || config.write(configuration) < 0)
        throw std::runtime_error("TrayHost: cannot write the tint2 configuration");
    config.close();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QString::fromStdString(displayName));
    environment.insert(QStringLiteral("HOME"), directory_.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), directory_.path());
    tint2_ = std::make_unique<ChildProcess>(QStringLiteral("tint2"), QStringLiteral("tint2"),
                                            QStringList{QStringLiteral("-c"), configPath}, environment);
}

TrayHost::~TrayHost()
{
    tint2_.reset();
}

bool TrayHost::waitReady()
{
    if (!tint2_->started())
        return false;
    ScreenInspector screen(displayName_);
    return waitUntil(
        [&] {
            if (!tint2_->running() || !screen.selectionOwned("_NET_SYSTEM_TRAY_S0"))
                return false;
            for (const ScreenInspector::Window& w : screen.windows()) {
                if (w.topLevel && w.viewable && w.wmClass == "Tint2") {
                    panel_ = w.area;
                    return true;
                }
            }
            return false;
        },
        std::chrono::seconds(20));
}

} // namespace zt::test
