#include "backends/bluez/AdapterWatcher.h"

#include "backends/bluez/BluezNames.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>

#include <utility>

namespace zt::bluez {
namespace {

bool poweredIn(const QVariantMap& properties, bool otherwise)
{
    const QVariant powered = properties.value(QStringLiteral("Powered"));
    return powered.metaType().id() == QMetaType::Bool ? powered.toBool() : otherwise;
}

// Runs `handle` with the finished call's answer, unless `context` is gone.
template <typename Handler>
void whenAnswered(QObject* context, const QDBusPendingCall& call, Handler handle)
{
    auto* watcher = new QDBusPendingCallWatcher(call, context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [watcher, handle] {
        watcher->deleteLater();
        handle(watcher->reply());
    });
}

} // namespace

AdapterWatcher::AdapterWatcher(QDBusConnection bus)
    : bus_(std::move(bus)),
      serviceWatcher_(QString::fromLatin1(names::service), bus_, QDBusServiceWatcher::WatchForOwnerChange)
{
    if (!bus_.isConnected()) {
        ownerKnown_ = true;
        return;
    }
    connect(&serviceWatcher_, &QDBusServiceWatcher::serviceOwnerChanged, this, &AdapterWatcher::onOwnerChanged);
    const QString service = QString::fromLatin1(names::service);
    const QString objectManager = QString::fromLatin1(names::objectManager);
    bus_.connect(service, QStringLiteral("/"), objectManager, QStringLiteral("InterfacesAdded"), this,
                 SLOT(onInterfacesAdded(QDBusMessage)));
    bus_.connect(service, QStringLiteral("/"), objectManager, QStringLiteral("InterfacesRemoved"), this,
                 SLOT(onInterfacesRemoved(QDBusMessage)));
    bus_.connect(service, QString(), QString::fromLatin1(names::properties), QStringLiteral("PropertiesChanged"),
                 this, SLOT(onPropertiesChanged(QDBusMessage)));
    // After the watches are in place, so no change can fall between the two.
    lookUpOwner();
}

std::optional<AdapterWatcher::Adapter> AdapterWatcher::adapter() const
{
    for (auto it = objects_.cbegin(); it != objects_.cend(); ++it) {
        if (it->adapter)
            return Adapter{it.key(), it->powered, it->gattManager, it->advertisingManager};
    }
    return std::nullopt;
}

std::optional<ManagerState> AdapterWatcher::state() const
{
    if (!ownerKnown_)
        return std::nullopt;
    if (owner_.isEmpty())
        return ManagerState::unsupported;
    if (!objectsKnown_)
        return std::nullopt;
    const std::optional<Adapter> current = adapter();
    if (!current)
        return ManagerState::unsupported;
    return current->powered ? ManagerState::poweredOn : ManagerState::poweredOff;
}

void AdapterWatcher::lookUpOwner()
{
    const QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"))
        << QString::fromLatin1(names::service);
    whenAnswered(this, bus_.asyncCall(call), [this](const QDBusMessage& reply) {
        // An error means nobody owns the name (or the bus is gone).
        const bool owned = reply.type() == QDBusMessage::ReplyMessage && reply.signature() == QLatin1String("s");
        setOwner(owned ? reply.arguments().at(0).toString() : QString());
    });
}

void AdapterWatcher::onOwnerChanged(const QString&, const QString&, const QString& newOwner) { setOwner(newOwner); }

void AdapterWatcher::setOwner(const QString& owner)
{
    if (ownerKnown_ && owner == owner_)
        return;
    ownerKnown_ = true;
    owner_ = owner;
    ++generation_;
    objects_.clear();
    objectsKnown_ = false;
    if (!owner_.isEmpty())
        fetchObjects();
    Q_EMIT changed();
}

void AdapterWatcher::fetchObjects()
{
    const QDBusMessage call = QDBusMessage::createMethodCall(owner_, QStringLiteral("/"),
                                                             QString::fromLatin1(names::objectManager),
                                                             QStringLiteral("GetManagedObjects"));
    const quint64 generation = generation_;
    whenAnswered(this, bus_.asyncCall(call), [this, generation](const QDBusMessage& reply) {
        if (generation != generation_)
            return;
        // Signals that came in while we waited are part of this answer.
        objects_.clear();
        if (reply.type() == QDBusMessage::ReplyMessage && reply.signature() == QLatin1String("a{oa{sa{sv}}}")) {
            const ManagedObjects objects = qdbus_cast<ManagedObjects>(reply.arguments().at(0));
            for (auto it = objects.cbegin(); it != objects.cend(); ++it)
                addInterfaces(it.key().path(), it.value());
        }
        objectsKnown_ = true;
        Q_EMIT changed();
    });
}

void AdapterWatcher::addInterfaces(const QString& path, const InterfaceMap& interfaces)
{
    Interfaces entry = objects_.value(path);
    if (const auto found = interfaces.constFind(QString::fromLatin1(names::adapter)); found != interfaces.cend()) {
        entry.adapter = true;
        entry.powered = poweredIn(*found, false);
    }
    if (interfaces.contains(QString::fromLatin1(names::gattManager)))
        entry.gattManager = true;
    if (interfaces.contains(QString::fromLatin1(names::advertisingManager)))
        entry.advertisingManager = true;
    if (!entry.empty())
        objects_.insert(path, entry);
}

bool AdapterWatcher::fromOwner(const QDBusMessage& message) const
{
    return !owner_.isEmpty() && message.service() == owner_;
}

void AdapterWatcher::onInterfacesAdded(const QDBusMessage& message)
{
    if (!fromOwner(message) || message.signature() != QLatin1String("oa{sa{sv}}"))
        return;
    const QList<QVariant> arguments = message.arguments();
    addInterfaces(qdbus_cast<QDBusObjectPath>(arguments.at(0)).path(), qdbus_cast<InterfaceMap>(arguments.at(1)));
    Q_EMIT changed();
}

void AdapterWatcher::onInterfacesRemoved(const QDBusMessage& message)
{
    if (!fromOwner(message) || message.signature() != QLatin1String("oas"))
        return;
    const QList<QVariant> arguments = message.arguments();
    const QString path = qdbus_cast<QDBusObjectPath>(arguments.at(0)).path();
    const auto found = objects_.find(path);
    if (found == objects_.end())
        return;
    const QStringList removed = qdbus_cast<QStringList>(arguments.at(1));
    if (removed.contains(QString::fromLatin1(names::adapter)))
        found->adapter = found->powered = false;
    if (removed.contains(QString::fromLatin1(names::gattManager)))
        found->gattManager = false;
    if (removed.contains(QString::fromLatin1(names::advertisingManager)))
        found->advertisingManager = false;
    if (found->empty())
        objects_.erase(found);
    Q_EMIT changed();
}

void AdapterWatcher::onPropertiesChanged(const QDBusMessage& message)
{
    if (!fromOwner(message) || message.signature() != QLatin1String("sa{sv}as"))
        return;
    const QList<QVariant> arguments = message.arguments();
    if (arguments.at(0).toString() != QLatin1String(names::adapter))
        return;
    const auto found = objects_.find(message.path());
    if (found == objects_.end() || !found->adapter)
        return;
    // A Powered of another type says nothing; keep what we had.
    found->powered = poweredIn(qdbus_cast<QVariantMap>(arguments.at(1)), found->powered);
    Q_EMIT changed();
}

} // namespace zt::bluez
