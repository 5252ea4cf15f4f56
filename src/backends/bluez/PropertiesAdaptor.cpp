#include "backends/bluez/PropertiesAdaptor.h"

#include "backends/bluez/AdaptorProperties.h"
#include "backends/bluez/DBusObject.h"

#include <optional>

namespace zt::bluez {
namespace {

constexpr char unknownInterface[] = "org.freedesktop.DBus.Error.UnknownInterface";
constexpr char unknownProperty[] = "org.freedesktop.DBus.Error.UnknownProperty";
constexpr char readOnly[] = "org.freedesktop.DBus.Error.PropertyReadOnly";

// The properties of `interface` on `host`, once the caller is admitted;
// otherwise nothing, with the error reply already sent.
std::optional<QVariantMap> propertiesFor(DBusObject& host, const QString& interface)
{
    if (!host.admitCaller())
        return std::nullopt;
    const InterfaceMap interfaces = interfacesOf(host);
    const auto found = interfaces.constFind(interface);
    if (found == interfaces.constEnd()) {
        host.sendErrorReply(unknownInterface, interface);
        return std::nullopt;
    }
    return *found;
}

} // namespace

PropertiesAdaptor::PropertiesAdaptor(DBusObject* host) : QDBusAbstractAdaptor(host) {}

QDBusVariant PropertiesAdaptor::Get(const QString& interface, const QString& name)
{
    DBusObject& host = hostOf(*this);
    const auto properties = propertiesFor(host, interface);
    if (!properties)
        return {};
    if (!properties->contains(name)) {
        host.sendErrorReply(unknownProperty, name);
        return {};
    }
    return QDBusVariant(properties->value(name));
}

QVariantMap PropertiesAdaptor::GetAll(const QString& interface)
{
    return propertiesFor(hostOf(*this), interface).value_or(QVariantMap{});
}

void PropertiesAdaptor::Set(const QString& interface, const QString& name, const QDBusVariant&)
{
    DBusObject& host = hostOf(*this);
    const auto properties = propertiesFor(host, interface);
    if (!properties)
        return;
    host.sendErrorReply(properties->contains(name) ? readOnly : unknownProperty, name);
}

} // namespace zt::bluez
