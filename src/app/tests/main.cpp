#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// No display, none of the machine's buses, and a home and settings store of the run's own.
int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
    for (const char* bus : {"DBUS_SESSION_BUS_ADDRESS", "DBUS_SYSTEM_BUS_ADDRESS"})
        qputenv(bus, "unix:path=/nonexistent/zt-app-tests-no-bus");
    QTemporaryDir sandbox;
    for (const char* folder : {"HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"}) {
        const auto owner = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        if (!sandbox.isValid() || !QDir().mkdir(sandbox.filePath(folder), owner))
            return 1;
        qputenv(folder, sandbox.filePath(folder).toUtf8());
    }
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, sandbox.filePath("XDG_CONFIG_HOME"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
