#include "backends/bluez/AttOptions.h"

#include <QDBusObjectPath>
#include <QMetaType>

namespace zt::bluez {

Central centralFrom(const QVariantMap& options)
{
    const QVariant device = options.value(QStringLiteral("device"));
    if (device.metaType() != QMetaType::fromType<QDBusObjectPath>())
        return Central{};
    return Central{device.value<QDBusObjectPath>().path().toStdString()};
}

std::size_t offsetFrom(const QVariantMap& options)
{
    const QVariant offset = options.value(QStringLiteral("offset"));
    switch (offset.metaType().id()) {
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return static_cast<std::size_t>(offset.toULongLong());
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::LongLong: {
        const qlonglong value = offset.toLongLong();
        return value > 0 ? static_cast<std::size_t>(value) : 0;
    }
    default:
        return 0;
    }
}

} // namespace zt::bluez
