#include "backends/bluez/ObjectManagerAdaptor.h"

#include "backends/bluez/DBusObject.h"

#include <utility>

namespace zt::bluez {

ObjectManagerAdaptor::ObjectManagerAdaptor(DBusObject* host, std::function<ManagedObjects()> objects)
    : QDBusAbstractAdaptor(host), objects_(std::move(objects))
{
}

ManagedObjects ObjectManagerAdaptor::GetManagedObjects()
{
    if (!hostOf(*this).admitCaller())
        return {};
    return objects_();
}

} // namespace zt::bluez
