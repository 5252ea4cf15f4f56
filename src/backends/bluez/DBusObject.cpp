#include "backends/bluez/DBusObject.h"

#include "backends/bluez/BluezNames.h"
#include "backends/bluez/CallerGate.h"

#include <QDBusMessage>

namespace zt::bluez {

DBusObject::DBusObject(const CallerGate& gate) : gate_(gate) {}

bool DBusObject::admitCaller() const
{
    if (!calledFromDBus())
        return false;
    if (gate_.admits(message().service()))
        return true;
    if (message().isReplyRequired())
        sendErrorReply(names::errorNotAuthorized, QStringLiteral("Only the Bluetooth daemon may call this object"));
    else
        setDelayedReply(true);
    return false;
}

DBusObject& hostOf(const QObject& adaptor) { return *static_cast<DBusObject*>(adaptor.parent()); }

} // namespace zt::bluez
