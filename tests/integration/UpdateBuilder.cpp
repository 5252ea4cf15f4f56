#include "integration/UpdateBuilder.h"

namespace zt::test {
namespace {

void set(Vec3* v, Triple t)
{
    v->set_x(t.x);
    v->set_y(t.y);
    v->set_z(t.z);
}

} // namespace

UpdateBuilder& UpdateBuilder::settings(float sensitivity, float smoothing, ZimtorvaInfo::ActiveState cursorActive,
                                       bool leftHanded, bool crownLeft)
{
    ZimtorvaInfo* info = update_.mutable_mouseinfo();
    info->set_sensitivity(sensitivity);
    info->set_smoothing(smoothing);
    info->set_cursoractive(cursorActive);
    info->set_lefthanded(leftHanded);
    info->set_crownleft(crownLeft);
    return *this;
}

UpdateBuilder& UpdateBuilder::gesture(GestureType type)
{
    update_.add_gestures()->set_type(type);
    return *this;
}

UpdateBuilder& UpdateBuilder::frame(Triple gyro, Triple grav)
{
    SensorFrame* f = update_.add_sensorframes();
    set(f->mutable_gyro(), gyro);
    set(f->mutable_grav(), grav);
    return *this;
}

QByteArray UpdateBuilder::bytes() const
{
    const std::string encoded = update_.SerializeAsString();
    return QByteArray(encoded.data(), static_cast<qsizetype>(encoded.size()));
}

QString consoleHex(const QByteArray& bytes)
{
    return bytes.isEmpty() ? QStringLiteral("-") : QString::fromLatin1(bytes.toHex());
}

} // namespace zt::test
