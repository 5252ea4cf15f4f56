#include "support/ApplicationEnvironment.h"

#include <filesystem>

namespace zt::test {

ChildProcess::Environment applicationEnvironment(const ApplicationDesktop& desktop)
{
    ChildProcess::Environment environment;
    for (const char* name : {"QT_QPA_PLATFORMTHEME", "QT_STYLE_OVERRIDE", "QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS",
                             "QT_ENABLE_HIGHDPI_SCALING", "QT_FONT_DPI", "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION",
                             "WAYLAND_DISPLAY", "SESSION_MANAGER", "XDG_SESSION_TYPE", "GTK_THEME", "XDG_CONFIG_HOME",
                             "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        environment[name] = "";
    const std::filesystem::path runtime = std::filesystem::path(desktop.home) / "runtime";
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    environment.insert({{"QT_QPA_PLATFORM", "xcb"},
                        {"DISPLAY", desktop.display},
                        {"DBUS_SYSTEM_BUS_ADDRESS", desktop.systemBus},
                        {"DBUS_SESSION_BUS_ADDRESS", desktop.sessionBus},
                        {"HOME", desktop.home},
                        {"XDG_RUNTIME_DIR", runtime.string()}});
    return environment;
}

} // namespace zt::test
