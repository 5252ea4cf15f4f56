#include "fakebluez/FakeBluezConsole.h"

#include "fakebluez/FakeBluez.h"

#include <QDBusMessage>
#include <QStringList>

#include <utility>

namespace zt::test {
namespace {

QString hex(const QByteArray& bytes)
{
    return bytes.isEmpty() ? QStringLiteral("-") : QString::fromLatin1(bytes.toHex());
}

} // namespace

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

    if (command == QLatin1String("quit")) {
        print_(QStringLiteral("ok"));
        return false;
    }
    if (command == QLatin1String("power") && (argument == QLatin1String("on") || argument == QLatin1String("off"))) {
        fake_.setPowered(argument == QLatin1String("on"));
        print_(QStringLiteral("ok"));
    } else if (command == QLatin1String("adapter") && argument == QLatin1String("add")) {
        fake_.addAdapter();
        print_(QStringLiteral("ok"));
    } else if (command == QLatin1String("adapter") && argument == QLatin1String("remove")) {
        fake_.removeAdapter();
        print_(QStringLiteral("ok"));
    } else if (command == QLatin1String("advertising-manager") && argument == QLatin1String("add")) {
        fake_.addAdvertisingManager();
        print_(QStringLiteral("ok"));
    } else if (command == QLatin1String("release")) {
        fake_.releaseAdvertisements();
        print_(QStringLiteral("ok"));
    } else if (command == QLatin1String("restart")) {
        if (fake_.restart())
            print_(QStringLiteral("ok ") + fake_.uniqueName());
        else
            print_(QStringLiteral("error cannot take org.bluez"));
    } else if (command == QLatin1String("write") && words.size() >= 2) {
        const QByteArray value = argument == QLatin1String("-") ? QByteArray()
                                                                : QByteArray::fromHex(argument.toLatin1());
        const QString device = words.value(2, FakeBluez::devicePath);
        if (fake_.writeValue(value, FakeBluez::requestOptions(device)))
            print_(QStringLiteral("ok"));
        else
            print_(QStringLiteral("error no writable characteristic"));
    } else if (command == QLatin1String("read")) {
        bool ok = true;
        const uint offset = words.size() >= 2 ? argument.toUInt(&ok) : 0;
        if (!ok || offset > 0xFFFF) {
            print_(QStringLiteral("error bad offset"));
            return true;
        }
        const QString device = words.value(2, FakeBluez::devicePath);
        const bool sent = fake_.readValue(
            FakeBluez::requestOptions(device, static_cast<quint16>(offset)), [this](const QDBusMessage& reply) {
                if (reply.type() == QDBusMessage::ReplyMessage && reply.signature() == QLatin1String("ay"))
                    print_(QStringLiteral("read ") + hex(reply.arguments().at(0).toByteArray()));
                else
                    print_(QStringLiteral("read-error ") + reply.errorName());
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
