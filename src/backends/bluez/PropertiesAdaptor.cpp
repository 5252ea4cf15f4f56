#include "backends/bluez/PropertiesAdaptor.h"

#include "backends/bluez/AdaptorProperties.h"
#include "backends/bluez/DBusObject.h"

namespace zt::bluez {
namespace {

constexpr char unknownInterface[] = "org.freedesktop.DBus.Error.UnknownInterface";
constexpr char unknownProperty[] = "org.freedesktop.DBus.Error.UnknownProperty";
constexpr char readOnly[] = "org.freedesktop.DBus.Error.PropertyReadOnly";

} // namespace

PropertiesAdaptor::PropertiesAdaptor(DBusObject* host) : QDBusAbstractAdaptor(host) {}

QDBusVariant PropertiesAdaptor::Get(const QString& interface, const QString& name)
{
    DBusObject& host = hostOf(*this);
    if (!host.admitCaller())
        return {};
    const InterfaceMap interfaces = interfacesOf(host);
    const auto found = interfaces.constFind(interface);
    if (found == interfaces.constEnd()) {
        host.sendErrorReply(unknownInterface, interface);
        return {};
    }
    if (!found->contains(name)) {
        host.sendErrorReply(unknownProperty, name);
        return {};
    }
    return QDBusVariant(found->value(name));
}

QVariantMap PropertiesAdaptor::GetAll(const QString& interface)
{
    DBusObject& host = hostOf(*this);
    if (!host.admitCaller())
        return {};
    const InterfaceMap interfaces = interfacesOf(host);
    const auto found = interfaces.constFind(interface);
    if (found == interfaces.constEnd()) {
        host.sendErrorReply(unknownInterface, interface);
        return {};
    }
    return *found;
}

void PropertiesAdaptor::Set(const QString& interface, const QString& name, const QDBusVariant&)
{
    DBusObject& host = hostOf(*this);
    if (!host.admitCaller())
        return;
    const InterfaceMap interfaces = interfacesOf(host);
    const auto found = interfaces.constFind(interface);
    if (found == interfaces.constEnd())
        host.sendErrorReply(unknownInterface, interface);
    else if (!found->contains(name))
        host.sendErrorReply(unknownProperty, name);
    else
        host.sendErrorReply(readOnly, name);
}

} // namespace zt::bluez
