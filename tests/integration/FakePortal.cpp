#include "integration/FakePortal.h"

#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>

#include <atomic>

namespace zt::test {
namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");

} // namespace

class FakePortal::Object : public QDBusVirtualObject {
public:
    explicit Object(FakePortal& owner) : owner_(owner) {}

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const bool read = message.member() == QLatin1String("Read");
        if (message.interface() != settingsInterface || (!read && message.member() != QLatin1String("ReadOne")))
            return false;
        const QList<QVariant> args = message.arguments();
        if (message.signature() != QLatin1String("ss") || args[0].toString() != QLatin1String("org.freedesktop.appearance") ||
            args[1].toString() != QLatin1String("color-scheme")) {
            connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"),
                                                     QStringLiteral("Requested setting not found")));
            return true;
        }
        ++owner_.reads_;
        const QVariant value = QVariant::fromValue(owner_.colorScheme_);
        const QVariant answer = read ? QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusVariant(value))))
                                     : QVariant::fromValue(QDBusVariant(value));
        connection.send(message.createReply(answer));
        return true;
    }

    QString introspect(const QString&) const override { return {}; }

private:
    FakePortal& owner_;
};

FakePortal::FakePortal(const QString& busAddress, quint32 colorScheme)
    : connectionName_(QStringLiteral("integration-portal-%1").arg([] {
          static std::atomic<int> count{0};
          return ++count;
      }())),
      connection_(QDBusConnection::connectToBus(busAddress, connectionName_)),
      object_(std::make_unique<Object>(*this)),
      colorScheme_(colorScheme)
{
}

FakePortal::~FakePortal()
{
    connection_.unregisterObject(portalPath);
    QDBusConnection::disconnectFromBus(connectionName_);
}

bool FakePortal::start()
{
    return connection_.isConnected() && connection_.registerVirtualObject(portalPath, object_.get()) &&
           connection_.registerService(portalService);
}

} // namespace zt::test
