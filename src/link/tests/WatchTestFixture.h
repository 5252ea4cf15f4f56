#pragma once

#include "link/Watch.h"
#include "link/testing/FakePlatform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zt::testing {

inline Uuid characteristicUuid() { return *Uuid::fromString("613805b1-8dd4-4268-98ae-a6e72bf454ab"); }
inline Uuid serviceUuid() { return *Uuid::fromString("613805b0-8dd4-4268-98ae-a6e72bf454ab"); }
inline Uuid otherUuid() { return *Uuid::fromString("613805b2-8dd4-4268-98ae-a6e72bf454ab"); }

inline Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline Bytes encode(const Update& update) { return bytesOf(update.SerializeAsString()); }

inline void setVec(Vec3* v, float x, float y, float z)
{
    v->set_x(x);
    v->set_y(y);
    v->set_z(z);
}

// A frame with the given angular rate and gravity; either may be left absent.
struct FrameSpec {
    std::vector<float> gyro; // empty: absent
    std::vector<float> grav; // empty: absent
};

inline void addFrame(Update& update, const FrameSpec& spec)
{
    SensorFrame* frame = update.add_sensorframes();
    if (spec.gyro.size() == 3)
        setVec(frame->mutable_gyro(), spec.gyro[0], spec.gyro[1], spec.gyro[2]);
    if (spec.grav.size() == 3)
        setVec(frame->mutable_grav(), spec.grav[0], spec.grav[1], spec.grav[2]);
}

inline void addGesture(Update& update, GestureType type) { update.add_gestures()->set_type(type); }

// A powered-on Watch on fakes, a pointer at the origin that stays put (so
// each event's location is the move's offset alone), and write helpers.
class WatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        watch = Watch::create(platform);
        manager = platform.manager();
        ASSERT_NE(manager, nullptr);
        platform.pointer.followsEvents = false;
    }

    ATTRequest request(std::optional<Bytes> value, std::string central = "central-A",
                       Uuid characteristic = characteristicUuid())
    {
        ATTRequest r;
        r.id = ++lastId;
        r.central = Central{std::move(central)};
        r.characteristic = characteristic;
        r.value = std::move(value);
        return r;
    }

    void write(const Update& update) { manager->deliverWrite({request(encode(update))}); }

    // Writes and lets every move of the write run.
    void writeAndRun(const Update& update)
    {
        write(update);
        platform.queue.advance(std::chrono::milliseconds(500));
    }

    std::vector<MouseEventType> eventTypes() const
    {
        std::vector<MouseEventType> types;
        for (const auto& e : platform.pointer.events)
            types.push_back(e.type);
        return types;
    }

    FakePlatform platform;
    std::shared_ptr<Watch> watch;
    ScriptedPeripheralManager* manager = nullptr;
    std::uint64_t lastId = 0;
};

} // namespace zt::testing
