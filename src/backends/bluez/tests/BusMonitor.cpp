#include "BusMonitor.h"

namespace zt::test {

BusMonitor::BusMonitor(const std::string& address)
{
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.setStandardErrorFile(QProcess::nullDevice());
    process_.start(QStringLiteral("dbus-monitor"),
                   {QStringLiteral("--address"), QString::fromStdString(address), QStringLiteral("--profile"),
                    QStringLiteral("type='method_return'"), QStringLiteral("type='error'")});
}

BusMonitor::~BusMonitor()
{
    process_.kill();
    process_.waitForFinished(5000);
}

bool BusMonitor::ready()
{
    take();
    return ready_;
}

const QList<BusMonitor::Reply>& BusMonitor::replies()
{
    take();
    return replies_;
}

void BusMonitor::take()
{
    pending_ += process_.readAllStandardOutput();
    for (qsizetype end = pending_.indexOf('\n'); end >= 0; end = pending_.indexOf('\n')) {
        const QList<QByteArray> fields = pending_.left(end).split('\t');
        pending_.remove(0, end + 1);
        // The bus takes the monitor's name away once it monitors.
        if (fields.size() >= 8 && fields[0] == "sig" && fields[7] == "NameLost")
            ready_ = true;
        // type, time, serial, sender, destination, reply serial
        if (fields.size() >= 5 && (fields[0] == "mr" || fields[0] == "err"))
            replies_.append(Reply{fields[0] == "err", QString::fromLatin1(fields[3]), QString::fromLatin1(fields[4])});
    }
}

} // namespace zt::test
