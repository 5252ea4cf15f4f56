// fake-bluez [--address <bus>] [--no-adapter] [--powered-off] [--late-advertising-manager]
// The bus defaults to $DBUS_SYSTEM_BUS_ADDRESS. Prints "ready <unique name>"
// once it owns org.bluez, then takes FakeBluezConsole commands on standard
// input until "quit" or end of input.

#include "fakebluez/FakeBluez.h"
#include "fakebluez/FakeBluezConsole.h"

#include <QCoreApplication>
#include <QHash>
#include <QSocketNotifier>

#include <unistd.h>

#include <cerrno>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    zt::test::FakeBluez::Options options;
    const QHash<QString, bool*> switches{{QStringLiteral("--no-adapter"), &options.adapter},
                                         {QStringLiteral("--powered-off"), &options.powered},
                                         {QStringLiteral("--late-advertising-manager"), &options.advertisingManager}};
    QString address = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS");
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--address") && i + 1 < args.size()) {
            address = args[++i];
        } else if (switches.contains(args[i])) {
            *switches.value(args[i]) = false;
        } else {
            std::fprintf(stderr, "fake-bluez: unknown argument %s\n", qPrintable(args[i]));
            return 2;
        }
    }
    if (address.isEmpty()) {
        std::fprintf(stderr, "fake-bluez: no bus address (--address or DBUS_SYSTEM_BUS_ADDRESS)\n");
        return 2;
    }

    zt::test::FakeBluez fake(address, options);
    zt::test::FakeBluezConsole console(fake, [](const QString& line) {
        std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
        std::fflush(stdout);
    });
    if (!fake.start()) {
        std::fprintf(stderr, "fake-bluez: cannot take org.bluez on %s\n", qPrintable(address));
        return 1;
    }
    std::printf("ready %s\n", qPrintable(fake.uniqueName()));
    std::fflush(stdout);

    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[4096];
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            return;
        bool more = n > 0;
        if (more)
            pending.append(buffer, static_cast<qsizetype>(n));
        for (qsizetype end = pending.indexOf('\n'); more && end >= 0; end = pending.indexOf('\n')) {
            more = console.execute(QString::fromUtf8(pending.left(end)));
            pending.remove(0, end + 1);
        }
        // End of input or "quit".
        if (!more) {
            input.setEnabled(false);
            app.quit();
        }
    });
    return app.exec();
}
