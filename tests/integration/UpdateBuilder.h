#pragma once

#include "watch_output.pb.h"

#include <QByteArray>
#include <QString>

#include <string>

namespace zt::test {

// Three floats, as the watch sends a Vec3.
struct Triple {
    float x = 0;
    float y = 0;
    float z = 0;
};

// Builds the Update the watch writes, one piece at a time.
class UpdateBuilder {
public:
    UpdateBuilder& settings(float sensitivity, float smoothing, ZimtorvaInfo::ActiveState cursorActive,
                            bool leftHanded = false, bool crownLeft = false);
    UpdateBuilder& gesture(GestureType type);
    UpdateBuilder& frame(Triple gyro, Triple grav);

    const Update& update() const { return update_; }
    QByteArray bytes() const;

private:
    Update update_;
};

// The bytes as the fake-bluez console takes them: lower-case hex, "-" for none.
QString consoleHex(const QByteArray& bytes);

} // namespace zt::test
