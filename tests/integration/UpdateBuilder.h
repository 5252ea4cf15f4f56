#pragma once

#include "watch_output.pb.h"

#include <QByteArray>

#include <cstddef>
#include <string>

#include <utility>

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
                            bool leftHanded = false, bool crownLeft = false)
    {
        ZimtorvaInfo* info = update_.mutable_mouseinfo();
        info->set_sensitivity(sensitivity);
        info->set_smoothing(smoothing);
        info->set_cursoractive(cursorActive);
        info->set_lefthanded(leftHanded);
        info->set_crownleft(crownLeft);
        return *this;
    }

    UpdateBuilder& gesture(GestureType type)
    {
        update_.add_gestures()->set_type(type);
        return *this;
    }

    // `times` frames alike.
    UpdateBuilder& frame(Triple gyro, Triple grav, int times = 1)
    {
        for (int i = 0; i < times; ++i) {
            SensorFrame* f = update_.add_sensorframes();
            for (const auto& [v, t] : {std::pair{f->mutable_gyro(), gyro}, std::pair{f->mutable_grav(), grav}}) {
                v->set_x(t.x);
                v->set_y(t.y);
                v->set_z(t.z);
            }
        }
        return *this;
    }

    // `bytes` of the watch's name, which the link decodes and never reads.
    UpdateBuilder& padding(std::size_t bytes)
    {
        update_.mutable_info()->set_devicename(std::string(bytes, 'x'));
        return *this;
    }

    const Update& update() const { return update_; }
    QByteArray bytes() const { return QByteArray::fromStdString(update_.SerializeAsString()); }

private:
    Update update_;
};

} // namespace zt::test
