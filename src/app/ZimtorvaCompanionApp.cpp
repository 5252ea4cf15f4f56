#include "app/ZimtorvaCompanionApp.h"

#include "app/AppDelegate.h"
#include "app/Bundle.h"
#include "app/DesktopAppearance.h"
#include "app/UserDefaults.h"
#include "link/platform/Platform.h"

#include <QApplication>
#include <QDBusConnection>
#include <QTimer>

namespace zt {

ZimtorvaCompanionApp::ZimtorvaCompanionApp(Platform& platform, const Bundle& bundle, Appearance& appearance)
    : appDelegate_(std::make_unique<AppDelegate>(platform, bundle, appearance))
{
}

ZimtorvaCompanionApp::~ZimtorvaCompanionApp() = default;

int ZimtorvaCompanionApp::main(int& argc, char** argv, const PlatformFactory& makePlatform)
{
    // Without any display the link still works; run headless rather than
    // refuse to start.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication application(argc, argv);
    QApplication::setOrganizationName(UserDefaults::organizationName);
    QApplication::setApplicationName(UserDefaults::applicationName);
    QApplication::setQuitOnLastWindowClosed(false);

    // Declared in this order so each outlives what refers to it.
    const std::unique_ptr<Platform> platform = makePlatform();
    const Bundle bundle = Bundle::main();
    DesktopAppearance appearance(QDBusConnection::sessionBus());
    ZimtorvaCompanionApp app(*platform, bundle, appearance);

    QTimer::singleShot(0, &app.appDelegate(), &AppDelegate::applicationDidFinishLaunching);
    QApplication::exec();
    return 0;
}

} // namespace zt
