// Cost of one write as the watch sends it: a ten-frame Update with every
// sensor vector, a gesture, the watch's Info and its mouse settings, going
// through the write callback (decode, handleUpdate, answer, activity timer).
#include "link/Watch.h"
#include "link/testing/FakePlatform.h"
#include "messages/UpdateDecoder.h"

#include <benchmark/benchmark.h>

namespace {

using namespace std::chrono_literals;
using namespace zt;

void setVec(Vec3* v, float x, float y, float z)
{
    v->set_x(x);
    v->set_y(y);
    v->set_z(z);
}

Bytes realisticWrite()
{
    Update update;
    for (int i = 0; i < 10; ++i) {
        SensorFrame* f = update.add_sensorframes();
        const float t = 0.01f * static_cast<float>(i);
        setVec(f->mutable_gyro(), 0.12f + t, -0.34f + t, 0.56f - t);
        setVec(f->mutable_acc(), 0.02f, -0.01f, 0.03f + t);
        setVec(f->mutable_grav(), 0.41f, 6.72f, 7.09f - t);
        Quat* q = f->mutable_quat();
        q->set_w(0.98f);
        q->set_x(0.05f + t);
        q->set_y(-0.12f);
        q->set_z(0.11f);
        setVec(f->mutable_mag(), 21.5f, -3.25f + t, 40.125f);
        setVec(f->mutable_magcal(), 20.5f, -3.0f, 39.75f + t);
        f->set_deltatime(10);
    }
    Gesture* g = update.add_gestures();
    g->set_type(PINCH_TAP);
    g->set_deltatime(40);
    update.set_deltatime(100);
    update.set_unixtime(1718000000123);

    Info* info = update.mutable_info();
    info->set_hand(Info::LEFT);
    info->set_appid("com.example.watchmouse");
    info->set_appversion("2.4.1");
    info->add_availablemodels()->add_gestures(PINCH_TAP);
    info->mutable_activemodel()->add_gestures(PINCH_TAP);
    info->mutable_activemodel()->add_gestures(CLENCH);
    info->set_modelinfo("tap-v3");
    info->set_manufacturer("Example");
    info->set_devicename("Wrist 5");
    info->set_batterypercentage(81);
    info->set_hapticsavailable(true);
    info->mutable_touchscreenresolution()->set_x(450);
    info->mutable_touchscreenresolution()->set_y(450);

    ZimtorvaInfo* settings = update.mutable_mouseinfo();
    settings->set_sensitivity(1.25f);
    settings->set_smoothing(0.1f);
    settings->set_cursoractive(ZimtorvaInfo::ACTIVE);
    settings->set_lefthanded(true);

    const std::string s = update.SerializeAsString();
    return Bytes(s.begin(), s.end());
}

struct Rig {
    testing::FakePlatform platform;
    std::shared_ptr<Watch> watch = Watch::create(platform);
    std::vector<ATTRequest> batch;

    Rig()
    {
        ATTRequest r;
        r.central = Central{"watch"};
        r.characteristic = *Uuid::fromString("613805b1-8dd4-4268-98ae-a6e72bf454ab");
        r.value = realisticWrite();
        batch.push_back(std::move(r));
        platform.manager()->deliverState(ManagerState::poweredOn);
    }

    void forgetRecords()
    {
        platform.manager()->clearRecords();
        platform.pointer.events.clear();
    }
};

// The write callback alone; its ten moves stay queued and are drained, with
// the clock paused, every 256 writes.
void BM_WriteCallback(benchmark::State& state)
{
    Rig rig;
    std::size_t n = 0;
    for (auto _ : state) {
        rig.platform.manager()->deliverWrite(rig.batch);
        if (++n % 256 == 0) {
            state.PauseTiming();
            rig.platform.queue.advance(2s);
            rig.forgetRecords();
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WriteCallback);

// The write callback and then its ten moves (through CursorController into
// the recording pointer), each write 100 ms after the previous one.
void BM_WriteAndMoves(benchmark::State& state)
{
    Rig rig;
    std::size_t n = 0;
    for (auto _ : state) {
        rig.platform.manager()->deliverWrite(rig.batch);
        rig.platform.queue.advance(100ms);
        if (++n % 4096 == 0) {
            state.PauseTiming();
            rig.forgetRecords();
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WriteAndMoves);

// Decoding alone, for comparison.
void BM_DecodeOnly(benchmark::State& state)
{
    const Bytes bytes = realisticWrite();
    for (auto _ : state)
        benchmark::DoNotOptimize(messages::decodeUpdate(bytes));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_DecodeOnly);

} // namespace

BENCHMARK_MAIN();
