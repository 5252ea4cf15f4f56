#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace zt::bluez {

// What org.bluez.LEAdvertisement1 publishes for our one advertisement.
struct LEAdvertisement {
    QString type = QStringLiteral("peripheral"); // connectable; BlueZ's default is not
    // The "LE General Discoverable" flag whatever the adapter's own
    // Discoverable setting: without it a central doing general discovery
    // may pass us over.
    bool discoverable = true;
    QString localName;
    QStringList serviceUUIDs; // lowercase
    std::function<void()> released; // the daemon gave the advertisement up
};

} // namespace zt::bluez
