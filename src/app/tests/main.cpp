#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// No display, none of the machine's D-Bus buses, and a home folder and
// settings store of the run's own.
int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/zt-app-tests-no-bus");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/zt-app-tests-no-bus");
    QTemporaryDir sandbox;
    const QString config = sandbox.filePath(QStringLiteral("config"));
    const QString runtime = sandbox.filePath(QStringLiteral("runtime"));
    if (!sandbox.isValid() || !QDir().mkpath(config) || !QDir().mkpath(runtime))
        return 1;
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("HOME", sandbox.filePath(QStringLiteral("home")).toUtf8());
    qputenv("XDG_CONFIG_HOME", config.toUtf8());
    qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());

    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
