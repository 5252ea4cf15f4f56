#include "integration/MotionModel.h"

#include <cmath>

namespace zt::test {

std::ostream& operator<<(std::ostream& out, const PointerEvent& event)
{
    static const char* const kinds[] = {"motion", "press", "release", "other-button"};
    return out << kinds[static_cast<int>(event.kind)] << " " << event.x << "," << event.y;
}

void MotionModel::apply(const Update& update)
{
    if (update.has_mouseinfo()) {
        const ZimtorvaInfo& info = update.mouseinfo();
        sensitivity_ = static_cast<double>(info.sensitivity());
        alpha_ = std::exp(-1.0f / (info.smoothing() * 50.0f));
        if (info.cursoractive() != ZimtorvaInfo::NONE)
            active_ = info.cursoractive() == ZimtorvaInfo::ACTIVE;
        settings_ = info;
    }
    if (!active_)
        return;
    if (update.gestures_size() > 0 && update.gestures(0).type() == PINCH_TAP) {
        downDue_ = true;
        upDue_ = true;
    }
    const float sign = settings_.crownleft() == settings_.lefthanded() ? 1.0f : -1.0f;
    const float scale = 0.1019368f;
    for (const SensorFrame& frame : update.sensorframes()) {
        const float gy = scale * frame.grav().y();
        const float gz = scale * frame.grav().z();
        const float keep = 1.0f - alpha_;
        gyroX_ = keep * frame.gyro().x() + alpha_ * gyroX_;
        gyroY_ = keep * frame.gyro().y() + alpha_ * gyroY_;
        gyroZ_ = keep * frame.gyro().z() + alpha_ * gyroZ_;
        const float dx = (-gyroZ_ * gz) - (gy * gyroY_);
        const float dy = ((gyroZ_ * gy) - (gz * gyroY_)) * sign;
        move(dx, dy);
    }
}

void MotionModel::move(float dx, float dy)
{
    ++moves_;
    const double gain = sensitivity_ * 30.0;
    preciseX_ += static_cast<double>(dx) * gain;
    preciseY_ += static_cast<double>(dy) * gain;
    const int x = static_cast<int>(std::lround(preciseX_));
    const int y = static_cast<int>(std::lround(preciseY_));
    // The X server reports every motion request, also one that leaves the
    // pointer on the same pixel.
    expected_.push_back({PointerEvent::Kind::motion, x, y});
    if (downDue_) {
        downDue_ = false;
        expected_.push_back({PointerEvent::Kind::press, x, y});
    } else if (upDue_) {
        upDue_ = false;
        expected_.push_back({PointerEvent::Kind::release, x, y});
    }
}

} // namespace zt::test
