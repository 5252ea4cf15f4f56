#include "bench/WriteSender.h"

#include "fakebluez/FakeBluez.h"
#include "integration/WaitUntil.h"

#include <dbus/dbus.h>

#include <poll.h>

#include <memory>
#include <stdexcept>

namespace zt::test {
namespace {

const char* const characteristicInterface = "org.bluez.GattCharacteristic1";

// One entry of BlueZ's options dictionary.
void appendOption(DBusMessageIter& dictionary, const char* key, int type, const void* value)
{
    const char signature[] = {static_cast<char>(type), '\0'};
    DBusMessageIter entry;
    DBusMessageIter variant;
    dbus_message_iter_open_container(&dictionary, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
    dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
    dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, signature, &variant);
    dbus_message_iter_append_basic(&variant, type, value);
    dbus_message_iter_close_container(&entry, &variant);
    dbus_message_iter_close_container(&dictionary, &entry);
}

using Message = std::unique_ptr<DBusMessage, void (*)(DBusMessage*)>;

} // namespace

WriteSender::WriteSender(const QDBusConnection& connection, const QString& destination, const QString& path)
    : connection_(static_cast<DBusConnection*>(connection.internalPointer())), destination_(destination.toUtf8()),
      path_(path.toUtf8()), device_(FakeBluez::devicePath.toUtf8())
{
    if (!connection_ || !dbus_connection_get_socket(connection_, &socket_))
        throw std::runtime_error("WriteSender: no connection");
}

std::optional<WriteSender::Clock::time_point> WriteSender::send(const QByteArray& value, std::chrono::milliseconds stall)
{
    const Message message(
        dbus_message_new_method_call(destination_.constData(), path_.constData(), characteristicInterface, "WriteValue"),
        dbus_message_unref);
    if (!message)
        throw std::runtime_error("WriteSender: out of memory");
    // What makes it a write without response; QtDBus's send() sets it too.
    dbus_message_set_no_reply(message.get(), TRUE);
    DBusMessageIter arguments;
    DBusMessageIter bytes;
    DBusMessageIter options;
    const auto* data = reinterpret_cast<const unsigned char*>(value.constData());
    const int size = static_cast<int>(value.size());
    const char* device = device_.constData();
    const dbus_uint16_t mtu = 517;
    const char* link = "LE";
    dbus_message_iter_init_append(message.get(), &arguments);
    dbus_message_iter_open_container(&arguments, DBUS_TYPE_ARRAY, "y", &bytes);
    dbus_message_iter_append_fixed_array(&bytes, DBUS_TYPE_BYTE, &data, size);
    dbus_message_iter_close_container(&arguments, &bytes);
    dbus_message_iter_open_container(&arguments, DBUS_TYPE_ARRAY, "{sv}", &options);
    appendOption(options, "device", DBUS_TYPE_OBJECT_PATH, &device);
    appendOption(options, "mtu", DBUS_TYPE_UINT16, &mtu);
    appendOption(options, "link", DBUS_TYPE_STRING, &link);
    dbus_message_iter_close_container(&arguments, &options);

    // QtDBus expects every watch of its connection to be switched on and off
    // from its own thread. libdbus switches the write watch when a write
    // cannot go out at once: wait here until the socket has room, so that
    // each write goes out whole, at once. (Should QtDBus's thread hold the
    // connection just then, the write queues and that thread sends it.)
    pollfd room{socket_, POLLOUT, 0};
    if (poll(&room, 1, static_cast<int>(stall.count())) != 1)
        return std::nullopt;
    const Clock::time_point sent = Clock::now();
    if (!dbus_connection_send(connection_, message.get(), nullptr))
        throw std::runtime_error("WriteSender: out of memory");
    return sent;
}

NoReplyCount countNoReplyWrites(const std::string& address, int expected, const std::function<void()>& act)
{
    DBusError error;
    dbus_error_init(&error);
    const std::unique_ptr<DBusConnection, void (*)(DBusConnection*)> monitor(
        dbus_connection_open_private(address.c_str(), &error), [](DBusConnection* c) {
            dbus_connection_close(c);
            dbus_connection_unref(c);
        });
    if (!monitor || !dbus_bus_register(monitor.get(), &error)) {
        dbus_error_free(&error);
        throw std::runtime_error("no monitor connection to " + address);
    }
    const Message become(dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS,
                                                      "org.freedesktop.DBus.Monitoring", "BecomeMonitor"),
                         dbus_message_unref);
    const char* rule = "type='method_call',interface='org.bluez.GattCharacteristic1',member='WriteValue'";
    const char** rules = &rule;
    const dbus_uint32_t flags = 0;
    dbus_message_append_args(become.get(), DBUS_TYPE_ARRAY, DBUS_TYPE_STRING, &rules, 1, DBUS_TYPE_UINT32, &flags,
                             DBUS_TYPE_INVALID);
    const Message reply(dbus_connection_send_with_reply_and_block(monitor.get(), become.get(), 5000, &error),
                        [](DBusMessage* m) {
                            if (m)
                                dbus_message_unref(m);
                        });
    if (!reply) {
        const std::string why = error.message ? error.message : "";
        dbus_error_free(&error);
        throw std::runtime_error("cannot become a monitor: " + why);
    }

    act();
    NoReplyCount count;
    // The event loop turns meanwhile: QtDBus sends from its own thread.
    waitUntil(
        [&] {
            dbus_connection_read_write(monitor.get(), 0);
            while (DBusMessage* seen = dbus_connection_pop_message(monitor.get())) {
                if (dbus_message_is_method_call(seen, characteristicInterface, "WriteValue")) {
                    ++count.calls;
                    count.flagged += dbus_message_get_no_reply(seen) ? 1 : 0;
                }
                dbus_message_unref(seen);
            }
            return count.calls >= expected;
        },
        std::chrono::seconds(5));
    return count;
}

} // namespace zt::test
