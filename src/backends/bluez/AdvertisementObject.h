#pragma once

#include "backends/bluez/LEAdvertisement.h"
#include "link/platform/PeripheralManager.h"

#include <QDBusConnection>
#include <QString>

#include <functional>
#include <memory>

namespace zt::bluez {

class CallerGate;
class DBusObject;

// Our advertisement exported at `path` as org.bluez.LEAdvertisement1 with
// Properties; unexported again on destruction.
class AdvertisementObject {
public:
    AdvertisementObject(QDBusConnection bus, const QString& path, const AdvertisementData& data,
                        const CallerGate& gate, std::function<void()> released);
    ~AdvertisementObject();
    AdvertisementObject(const AdvertisementObject&) = delete;
    AdvertisementObject& operator=(const AdvertisementObject&) = delete;

    bool exported() const { return exported_; }
    const QString& path() const { return path_; }
    const AdvertisementData& data() const { return data_; }

private:
    QDBusConnection bus_;
    QString path_;
    AdvertisementData data_;
    LEAdvertisement advertisement_;
    std::unique_ptr<DBusObject> object_;
    bool exported_ = false;
};

} // namespace zt::bluez
