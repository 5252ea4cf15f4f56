// Cost of one write as the watch sends it: a ten-frame Update with every
// sensor vector, a gesture, the watch's Info and its mouse settings, going
// through the write callback (decode, handleUpdate, answer, activity timer).
#include "link/Watch.h"
#include "link/testing/FakePlatform.h"

#include <benchmark/benchmark.h>

namespace {

using namespace std::chrono_literals;
using namespace zt;

Bytes realisticWrite()
{
    Update update;
    for (int i = 0; i < 10; ++i) {
        SensorFrame* f = update.add_sensorframes();
        const float t = 0.01f * static_cast<float>(i);
        for (Vec3* v :
             {f->mutable_gyro(), f->mutable_acc(), f->mutable_grav(), f->mutable_mag(), f->mutable_magcal()}) {
            v->set_x(0.41f + t);
            v->set_y(-6.72f + t);
            v->set_z(7.09f - t);
        }
        f->mutable_quat()->set_w(0.98f);
        f->mutable_quat()->set_x(0.05f + t);
        f->mutable_quat()->set_y(-0.12f);
        f->mutable_quat()->set_z(0.11f);
        f->set_deltatime(10);
    }
    update.add_gestures()->set_type(PINCH_TAP);
    update.set_deltatime(100);
    update.set_unixtime(1718000000123);

    Info* info = update.mutable_info();
    info->set_appid("com.example.watchmouse");
    info->set_appversion("2.4.1");
    info->mutable_activemodel()->add_gestures(PINCH_TAP);
    info->set_devicename("Wrist 5");
    info->set_batterypercentage(81);

    ZimtorvaInfo* settings = update.mutable_mouseinfo();
    settings->set_sensitivity(1.25f);
    settings->set_smoothing(0.1f);
    settings->set_cursoractive(ZimtorvaInfo::ACTIVE);

    const std::string s = update.SerializeAsString();
    return Bytes(s.begin(), s.end());
}

// Its ten moves stay queued and are drained, with the clock paused, every
// 256 writes.
void BM_WriteCallback(benchmark::State& state)
{
    testing::FakePlatform platform;
    const std::shared_ptr<Watch> watch = Watch::create(platform);
    testing::ScriptedPeripheralManager& manager = *platform.manager();
    manager.deliverState(ManagerState::poweredOn);
    ATTRequest request;
    request.central = Central{"watch"};
    request.characteristic = *Uuid::fromString("613805b1-8dd4-4268-98ae-a6e72bf454ab");
    request.value = realisticWrite();
    const std::vector<ATTRequest> batch{request};

    std::size_t n = 0;
    for (auto _ : state) {
        manager.deliverWrite(batch);
        if (++n % 256 == 0) {
            state.PauseTiming();
            platform.queue.advance(2s);
            manager.log.clear();
            manager.responses.clear();
            platform.pointer.events.clear();
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WriteCallback);

} // namespace

BENCHMARK_MAIN();
