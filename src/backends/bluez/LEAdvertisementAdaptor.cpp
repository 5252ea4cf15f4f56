#include "backends/bluez/LEAdvertisementAdaptor.h"

#include "backends/bluez/DBusObject.h"
#include "backends/bluez/LEAdvertisement.h"

namespace zt::bluez {

LEAdvertisementAdaptor::LEAdvertisementAdaptor(DBusObject* host, const LEAdvertisement& advertisement)
    : QDBusAbstractAdaptor(host), advertisement_(advertisement)
{
}

QString LEAdvertisementAdaptor::type() const { return advertisement_.type; }

QStringList LEAdvertisementAdaptor::serviceUUIDs() const { return advertisement_.serviceUUIDs; }

QString LEAdvertisementAdaptor::localName() const { return advertisement_.localName; }

bool LEAdvertisementAdaptor::discoverable() const { return advertisement_.discoverable; }

void LEAdvertisementAdaptor::Release()
{
    if (!hostOf(*this).admitCaller())
        return;
    if (advertisement_.released)
        advertisement_.released();
}

} // namespace zt::bluez
