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

inline void setVec(Vec3* v, const std::vector<float>& xyz)
{
    v->set_x(xyz.at(0));
    v->set_y(xyz.at(1));
    v->set_z(xyz.at(2));
}

// A frame with the given angular rate and gravity; an empty one is left absent.
inline void addFrame(Update& update, const std::vector<float>& gyro, const std::vector<float>& grav)
{
    SensorFrame* frame = update.add_sensorframes();
    if (!gyro.empty())
        setVec(frame->mutable_gyro(), gyro);
    if (!grav.empty())
        setVec(frame->mutable_grav(), grav);
}

// A Watch on fakes, with a pointer at the origin that stays put (so each
// event's location is the move's offset alone), and write helpers.
struct WatchRig {
    WatchRig() { platform.pointer.followsEvents = false; }

    ATTRequest request(std::optional<Bytes> value, std::string central = "central-A",
                       Uuid characteristic = characteristicUuid())
    {
        return {.id = ++lastId, .central = {std::move(central)}, .characteristic = characteristic,
                .value = std::move(value)};
    }

    void write(const Update& update) { manager->deliverWrite({request(encode(update))}); }

    // Writes and lets every move of the write run.
    void writeAndRun(const Update& update)
    {
        write(update);
        platform.queue.advance(std::chrono::milliseconds(500));
    }

    FakePlatform platform;
    std::shared_ptr<Watch> watch = Watch::create(platform);
    ScriptedPeripheralManager* manager = platform.manager();
    std::uint64_t lastId = 0;
};

class WatchTest : public ::testing::Test, protected WatchRig {};

} // namespace zt::testing
