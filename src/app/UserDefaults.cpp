#include "app/UserDefaults.h"

#include <QSettings>

#include <cmath>

namespace zt {

namespace {
const QString startOnLoginKey = QStringLiteral("startOnLogin");
}

UserDefaults& UserDefaults::standard()
{
    static UserDefaults defaults;
    return defaults;
}

std::unique_ptr<QSettings> UserDefaults::open()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, organizationName,
                                       applicationName);
}

QVariant UserDefaults::object(const QString& key) const
{
    return open()->value(key);
}

void UserDefaults::setObject(const QVariant& value, const QString& key)
{
    auto store = open();
    store->setValue(key, value);
    store->sync();
}

void UserDefaults::removeObject(const QString& key)
{
    auto store = open();
    store->remove(key);
    store->sync();
}

bool UserDefaults::boolForKey(const QString& key) const
{
    const QVariant value = object(key);
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    // The native format keeps every value as text; "garbage" must not read
    // as true, which QVariant::toBool() would make of it.
    const QString text = value.toString().trimmed();
    if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0
        || text.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0)
        return true;
    bool ok = false;
    const double number = text.toDouble(&ok);
    return ok && std::isfinite(number) && number != 0.0;
}

double UserDefaults::doubleForKey(const QString& key) const
{
    const QVariant value = object(key);
    if (value.typeId() == QMetaType::Bool)
        return 0.0;
    bool ok = false;
    const double number = value.toDouble(&ok);
    // A NaN or infinite gain would carry into pointer coordinates.
    return ok && std::isfinite(number) ? number : 0.0;
}

bool UserDefaults::startOnLogin() const
{
    return boolForKey(startOnLoginKey);
}

void UserDefaults::setStartOnLogin(bool on)
{
    setObject(on, startOnLoginKey);
}

} // namespace zt
