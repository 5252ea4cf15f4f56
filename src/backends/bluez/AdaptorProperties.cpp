#include "backends/bluez/AdaptorProperties.h"

#include <QDBusAbstractAdaptor>
#include <QMetaClassInfo>
#include <QMetaProperty>

namespace zt::bluez {

InterfaceMap interfacesOf(const QObject& host)
{
    InterfaceMap interfaces;
    for (const QObject* child : host.children()) {
        const auto* adaptor = qobject_cast<const QDBusAbstractAdaptor*>(child);
        if (!adaptor)
            continue;
        const QMetaObject* meta = adaptor->metaObject();
        const int info = meta->indexOfClassInfo("D-Bus Interface");
        if (info < 0)
            continue;
        QVariantMap properties;
        for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
            const QMetaProperty property = meta->property(i);
            properties.insert(QString::fromLatin1(property.name()), property.read(adaptor));
        }
        interfaces.insert(QString::fromLatin1(meta->classInfo(info).value()), properties);
    }
    return interfaces;
}

} // namespace zt::bluez
