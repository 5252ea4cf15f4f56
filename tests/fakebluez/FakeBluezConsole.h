#pragma once

#include <QObject>
#include <QString>

#include <functional>

namespace zt::test {

class FakeBluez;

// Drives a FakeBluez with lines of text: the control of the fake-bluez
// program, for tests that run the daemon double as a process of its own.
//
// Commands, one per line. Each is answered by one line, "ok ..." or
// "error <reason>", except read, which is answered when the read is.
//   power on|off
//   adapter add|remove
//   advertising-manager add           LEAdvertisingManager1 appears late
//   release                           gives up every advertisement (Release())
//   restart                           -> "ok <new unique name>"
//   write <hex>|- [<device path>]     WriteValue expecting no reply; "-" is zero bytes
//   read [<offset> [<device path>]]   -> "read <hex>" ("read -" when empty) or "read-error <error name>"
//   status                            -> "ok powered on|off applications <n> advertisements <m>"
//   quit                              -> "ok", then the program ends
// The device path defaults to /org/bluez/hci0/dev_AA_BB_CC_DD_EE_FF; the
// options sent are those of BlueZ ("device", "mtu", "link", "offset").
//
// Events, printed as they happen:
//   application <sender> <root> <characteristic uuid> <flags, comma-separated>
//   advertisement <sender> <path> <type> <local name>
//   rejected <method> <error name>
class FakeBluezConsole : public QObject {
    Q_OBJECT
public:
    FakeBluezConsole(FakeBluez& fake, std::function<void(const QString&)> print);

    // Runs one command; false once it was "quit".
    bool execute(const QString& line);

private:
    FakeBluez& fake_;
    std::function<void(const QString&)> print_;
};

} // namespace zt::test
