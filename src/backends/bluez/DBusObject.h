#pragma once

#include <QDBusContext>
#include <QObject>

namespace zt::bluez {

class CallerGate;

// The QObject behind one exported path. Its adaptors are its children; Qt
// hands the context of the call in progress to this object, not to them.
class DBusObject : public QObject, public QDBusContext {
    Q_OBJECT
public:
    explicit DBusObject(const CallerGate& gate);

    // True when the call being handled comes from the daemon. Otherwise the
    // caller has been refused (if it waits for an answer) and the adaptor
    // must leave the call alone.
    bool admitCaller() const;

private:
    const CallerGate& gate_;
};

// The host of an adaptor; adaptors are only ever created on a DBusObject.
DBusObject& hostOf(const QObject& adaptor);

} // namespace zt::bluez
