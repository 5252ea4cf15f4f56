#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    // Every bus and display a test uses is one it starts; by default nothing
    // reaches the machine's own.
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/zt-tests-no-system-bus", 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/zt-tests-no-session-bus", 1);
    unsetenv("DISPLAY");

    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
