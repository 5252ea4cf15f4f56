#pragma once

#include <QString>

namespace zt::bluez {

// Who may call our exported objects: the process that owns org.bluez right
// now, by its unique name. Nobody while that owner is unknown.
class CallerGate {
public:
    void trust(const QString& uniqueName) { trusted_ = uniqueName; }
    bool admits(const QString& sender) const { return !trusted_.isEmpty() && sender == trusted_; }

private:
    QString trusted_;
};

} // namespace zt::bluez
