#pragma once

#include <QObject>
#include <QString>

#include <functional>

namespace zt::test {

class FakeBluez;

// The control of the fake-bluez program: one command a line, each answered
// by one line, "ok ..." or "error <reason>" (a read once it is answered).
//   power on|off, adapter add|remove, advertising-manager add (appears late),
//   release (Release() every advertisement), quit
//   restart                           -> "ok <new unique name>"
//   write <hex>|- [<device path>]     WriteValue expecting no reply; "-" is no bytes
//   flood <n> <hex>|- [<per second>]  n such writes, as fast as the bus takes them or at that
//                                     rate -> "ok <n>" once the bus has routed them all
//   read [<offset> [<device path>]]   -> "read <hex>" ("read -" when empty) or "read-error <error name>"
//   status                            -> "ok powered on|off applications <n> advertisements <m>"
// The device defaults to FakeBluez::devicePath. Events, as they happen:
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
