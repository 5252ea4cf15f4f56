#include "app/UserDefaultsManager.h"

#include "app/NotificationCenter.h"
#include "app/UserDefaults.h"

namespace zt {

namespace {
const QString sensitivityKey = QStringLiteral("sensitivity");
}

UserDefaultsManager& UserDefaultsManager::shared()
{
    static UserDefaultsManager manager;
    return manager;
}

double UserDefaultsManager::getSensitivity() const
{
    return UserDefaults::standard().doubleForKey(sensitivityKey);
}

void UserDefaultsManager::setSensitivity(double value)
{
    UserDefaults::standard().setObject(value, sensitivityKey);
    NotificationCenter::defaultCenter().post(userDefaultsDidChangeNotification, this);
}

} // namespace zt
