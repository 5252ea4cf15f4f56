#pragma once

#include <QDBusObjectPath>
#include <QMap>
#include <QString>
#include <QVariantMap>

namespace zt::bluez {

// Interface name -> its properties: a{sa{sv}}, one object's entry in
// GetManagedObjects and the payload of InterfacesAdded.
using InterfaceMap = QMap<QString, QVariantMap>;

// a{oa{sa{sv}}}, the answer of GetManagedObjects.
using ManagedObjects = QMap<QDBusObjectPath, InterfaceMap>;

// Teaches QtDBus to marshal the types above. Idempotent; must run before
// any object that uses them is exported or any such answer is parsed.
void registerDBusTypes();

} // namespace zt::bluez
