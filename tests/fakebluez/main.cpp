// fake-bluez: the Bluetooth daemon double as a process of its own.
//
//   fake-bluez [--address <bus address>] [--no-adapter] [--powered-off]
//              [--late-advertising-manager]
//
// The bus address defaults to $DBUS_SYSTEM_BUS_ADDRESS. Prints
// "ready <unique name>" once it owns org.bluez, then takes the commands of
// FakeBluezConsole.h on standard input; ends on "quit" or end of input.

#include "fakebluez/FakeBluez.h"
#include "fakebluez/FakeBluezConsole.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <unistd.h>

#include <cerrno>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    zt::test::FakeBluez::Options options;
    QString address = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS");
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--address") && i + 1 < args.size()) {
            address = args[++i];
        } else if (args[i] == QLatin1String("--no-adapter")) {
            options.adapter = false;
        } else if (args[i] == QLatin1String("--powered-off")) {
            options.powered = false;
        } else if (args[i] == QLatin1String("--late-advertising-manager")) {
            options.advertisingManager = false;
        } else {
            std::fprintf(stderr, "fake-bluez: unknown argument %s\n", qPrintable(args[i]));
            return 2;
        }
    }
    if (address.isEmpty()) {
        std::fprintf(stderr, "fake-bluez: no bus address (--address or DBUS_SYSTEM_BUS_ADDRESS)\n");
        return 2;
    }

    auto print = [](const QString& line) {
        std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
        std::fflush(stdout);
    };
    zt::test::FakeBluez fake(address, options);
    zt::test::FakeBluezConsole console(fake, print);
    if (!fake.start()) {
        std::fprintf(stderr, "fake-bluez: cannot take org.bluez on %s\n", qPrintable(address));
        return 1;
    }
    print(QStringLiteral("ready ") + fake.uniqueName());

    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[4096];
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            return;
        if (n <= 0) {
            input.setEnabled(false);
            app.quit();
            return;
        }
        pending.append(buffer, static_cast<qsizetype>(n));
        for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QString line = QString::fromUtf8(pending.left(end));
            pending.remove(0, end + 1);
            if (!console.execute(line)) {
                input.setEnabled(false);
                app.quit();
                return;
            }
        }
    });
    return app.exec();
}
