#pragma once

#include <memory>
#include <string>

namespace zt::test {

class ChildProcess;

// A private D-Bus message bus for one test: dbus-daemon with a permissive
// configuration (any connection may own any name and call anything, as on a
// session bus; replies nobody asked for are still dropped, as on the
// system bus). Ready once constructed (throws std::runtime_error when it
// does not start); stopped on destruction. Never the machine's own buses.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // For QDBusConnection::connectToBus() or DBUS_SYSTEM_BUS_ADDRESS.
    const std::string& address() const { return address_; }

private:
    std::string directory_;
    std::unique_ptr<ChildProcess> daemon_;
    std::string address_;
};

} // namespace zt::test
