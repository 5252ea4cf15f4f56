#include "bench/TrayHost.h"

namespace zt::test {
namespace {

const QString connectionName = QStringLiteral("bench-tray-host");

} // namespace

TrayHost::TrayHost(const QString& busAddress) : connection_(QDBusConnection::connectToBus(busAddress, connectionName))
{
}

TrayHost::~TrayHost()
{
    connection_.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
    QDBusConnection::disconnectFromBus(connectionName);
}

bool TrayHost::start()
{
    return connection_.isConnected() &&
           connection_.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                                      QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) &&
           connection_.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

void TrayHost::RegisterStatusNotifierItem(const QString&, const QDBusMessage& message)
{
    // The item may name itself by a well-known name; its objects live on
    // the connection that called.
    itemOwner_ = message.service();
}

void TrayHost::RegisterStatusNotifierHost(const QString&) {}

QDBusMessage TrayHost::menuCall() const
{
    QDBusMessage call = QDBusMessage::createMethodCall(itemOwner_, QStringLiteral("/MenuBar"),
                                                       QStringLiteral("com.canonical.dbusmenu"),
                                                       QStringLiteral("GetLayout"));
    call << 0 << -1 << QStringList();
    return call;
}

} // namespace zt::test
