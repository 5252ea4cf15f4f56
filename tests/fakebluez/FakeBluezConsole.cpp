#include "fakebluez/FakeBluezConsole.h"

#include "fakebluez/FakeBluez.h"

#include <QDBusMessage>
#include <QHash>
#include <QStringList>

#include <utility>

namespace zt::test {

FakeBluezConsole::FakeBluezConsole(FakeBluez& fake, std::function<void(const QString&)> print)
    : fake_(fake), print_(std::move(print))
{
    connect(&fake_, &FakeBluez::applicationRegistered, this, [this](const FakeBluez::Application& application) {
        for (const FakeBluez::Characteristic& characteristic : application.characteristics)
            print_(QStringLiteral("application %1 %2 %3 %4")
                       .arg(application.sender, application.root, characteristic.uuid,
                            characteristic.flags.join(QLatin1Char(','))));
    });
    connect(&fake_, &FakeBluez::advertisementRegistered, this, [this](const FakeBluez::Advertisement& advertisement) {
        print_(QStringLiteral("advertisement %1 %2 %3 %4")
                   .arg(advertisement.sender, advertisement.path, advertisement.type, advertisement.localName));
    });
    connect(&fake_, &FakeBluez::rejected, this, [this](const QString& method, const QString& errorName) {
        print_(QStringLiteral("rejected %1 %2").arg(method, errorName));
    });
}

bool FakeBluezConsole::execute(const QString& line)
{
    const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return true;
    const QString command = words.at(0);
    const QString argument = words.value(1);
    const QString device = words.value(2, FakeBluez::devicePath);

    // Commands answered "ok" whatever follows them.
    const QHash<QString, std::function<void()>> plain{
        {QStringLiteral("power on"), [this] { fake_.setPowered(true); }},
        {QStringLiteral("power off"), [this] { fake_.setPowered(false); }},
        {QStringLiteral("adapter add"), [this] { fake_.addAdapter(); }},
        {QStringLiteral("adapter remove"), [this] { fake_.removeAdapter(); }},
        {QStringLiteral("advertising-manager add"), [this] { fake_.addAdvertisingManager(); }},
        {QStringLiteral("release"), [this] { fake_.releaseAdvertisements(); }},
        {QStringLiteral("quit"), [] {}},
    };
    const QString pair = command + QLatin1Char(' ') + argument;
    if (const auto found = plain.constFind(plain.contains(pair) ? pair : command); found != plain.cend()) {
        (*found)();
        print_(QStringLiteral("ok"));
        return command != QLatin1String("quit");
    }
    if (command == QLatin1String("restart")) {
        print_(fake_.restart() ? QStringLiteral("ok ") + fake_.uniqueName()
                               : QStringLiteral("error cannot take org.bluez"));
    } else if (command == QLatin1String("write") && words.size() >= 2) {
        const QByteArray value = argument == QLatin1String("-") ? QByteArray()
                                                                : QByteArray::fromHex(argument.toLatin1());
        const bool sent = fake_.writeValue(value, FakeBluez::requestOptions(device));
        print_(sent ? QStringLiteral("ok") : QStringLiteral("error no writable characteristic"));
    } else if (command == QLatin1String("flood") && words.size() >= 3) {
        bool countOk = false;
        bool rateOk = true;
        const int count = argument.toInt(&countOk);
        const double perSecond = words.size() >= 4 ? words.at(3).toDouble(&rateOk) : 0.0;
        if (!countOk || count < 0 || !rateOk || !(perSecond >= 0)) {
            print_(QStringLiteral("error bad count or rate"));
            return true;
        }
        const QByteArray value =
            words.at(2) == QLatin1String("-") ? QByteArray() : QByteArray::fromHex(words.at(2).toLatin1());
        const bool sent = fake_.flood(count, value, FakeBluez::requestOptions(), perSecond,
                                      [this](int n) { print_(QStringLiteral("ok %1").arg(n)); });
        if (!sent)
            print_(QStringLiteral("error no writable characteristic"));
    } else if (command == QLatin1String("read")) {
        bool ok = true;
        const uint offset = words.size() >= 2 ? argument.toUInt(&ok) : 0;
        if (!ok || offset > 0xFFFF) {
            print_(QStringLiteral("error bad offset"));
            return true;
        }
        const bool sent = fake_.readValue(
            FakeBluez::requestOptions(device, static_cast<quint16>(offset)), [this](const QDBusMessage& reply) {
                const QByteArray value = reply.arguments().value(0).toByteArray();
                if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String("ay"))
                    print_(QStringLiteral("read-error ") + reply.errorName());
                else
                    print_(QStringLiteral("read ") +
                           (value.isEmpty() ? QStringLiteral("-") : QString::fromLatin1(value.toHex())));
            });
        if (!sent)
            print_(QStringLiteral("error no readable characteristic"));
    } else if (command == QLatin1String("status")) {
        print_(QStringLiteral("ok powered %1 applications %2 advertisements %3")
                   .arg(fake_.powered() ? QStringLiteral("on") : QStringLiteral("off"))
                   .arg(fake_.applications().size())
                   .arg(fake_.advertisements().size()));
    } else {
        print_(QStringLiteral("error unknown command: ") + line.trimmed());
    }
    return true;
}

} // namespace zt::test
