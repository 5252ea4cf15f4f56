// Decoding one realistic write: ten full sensor frames, a gesture, the
// watch's description and its mouse settings.

#include "messages/UpdateDecoder.h"

#include <benchmark/benchmark.h>

#include <span>
#include <string>
#include <utility>

namespace {

void fill(Vec3& v, float base)
{
    v.set_x(base + 0.125f);
    v.set_y(base - 0.5f);
    v.set_z(base * 0.75f + 0.0625f);
}

std::string realisticUpdate()
{
    Update update;
    for (int i = 0; i < 10; ++i) {
        SensorFrame& frame = *update.add_sensorframes();
        const float t = 0.01f * static_cast<float>(i + 1);
        fill(*frame.mutable_gyro(), t);
        fill(*frame.mutable_acc(), t + 1.0f);
        fill(*frame.mutable_grav(), t - 9.81f);
        Quat& quat = *frame.mutable_quat();
        quat.set_w(0.98f - t);
        quat.set_x(0.1f + t);
        quat.set_y(-0.05f - t);
        quat.set_z(0.02f + t);
        fill(*frame.mutable_mag(), t + 30.0f);
        fill(*frame.mutable_magcal(), t + 25.0f);
        frame.set_deltatime(10 * i);
    }
    Gesture& gesture = *update.add_gestures();
    gesture.set_type(PINCH_TAP);
    gesture.set_deltatime(40);
    update.set_deltatime(100);
    update.set_unixtime(1'700'000'000'000);

    Info& info = *update.mutable_info();
    info.set_hand(Info::RIGHT);
    info.set_appid("com.example.watch.mouse");
    info.set_appversion("2.4.1");
    info.add_availablemodels()->add_gestures(PINCH_TAP);
    info.mutable_availablemodels(0)->add_gestures(CLENCH);
    info.mutable_activemodel()->add_gestures(PINCH_TAP);
    info.set_modelinfo("gesture-model-v3");
    info.set_manufacturer("Example Devices");
    info.set_devicename("Wrist 5");
    info.set_batterypercentage(76);
    info.set_hapticsavailable(true);
    info.mutable_touchscreenresolution()->set_x(450.0f);
    info.mutable_touchscreenresolution()->set_y(450.0f);

    ZimtorvaInfo& mouse = *update.mutable_mouseinfo();
    mouse.set_sensitivity(1.5f);
    mouse.set_smoothing(0.2f);
    mouse.set_cursoractive(ZimtorvaInfo::ACTIVE);
    mouse.set_lefthanded(true);
    return update.SerializeAsString();
}

const std::string& encoded()
{
    static const std::string bytes = realisticUpdate();
    return bytes;
}

void BM_decodeUpdate(benchmark::State& state)
{
    const std::string& bytes = encoded();
    const std::span input(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    for (auto _ : state) {
        auto update = zt::messages::decodeUpdate(input);
        benchmark::DoNotOptimize(update);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes.size()));
    state.counters["bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_decodeUpdate);

// The library's parse alone, for the cost of what decodeUpdate adds.
void BM_parseFromArray(benchmark::State& state)
{
    const std::string& bytes = encoded();
    for (auto _ : state) {
        Update update;
        const bool ok = update.ParseFromArray(bytes.data(), static_cast<int>(bytes.size()));
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(update);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes.size()));
    state.counters["bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_parseFromArray);

// Copies are deep (no shared storage): what handing a decoded Update on by
// value costs, against a move.
void BM_copyUpdate(benchmark::State& state)
{
    Update update;
    update.ParseFromString(encoded());
    for (auto _ : state) {
        Update copy = update;
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(BM_copyUpdate);

void BM_moveUpdate(benchmark::State& state)
{
    Update update;
    update.ParseFromString(encoded());
    for (auto _ : state) {
        Update moved = std::move(update);
        benchmark::DoNotOptimize(moved);
        update = std::move(moved);
    }
}
BENCHMARK(BM_moveUpdate);

} // namespace

BENCHMARK_MAIN();
