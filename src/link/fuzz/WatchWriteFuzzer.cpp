// Drives the Watch's callbacks with fuzzed scripts on the fakes and checks
// what must hold whatever the watch sends. The input is a run of records,
// each a tag byte and what it needs:
//   tag & 3 == 0  a write; 0x04 other characteristic, 0x08 no value,
//                 0x10/0x20 central index, 0x40 raw value (length byte and
//                 bytes) rather than an Update built from the next bytes,
//                 0x80 ends the batch
//   tag & 3 == 1  the clock moves on by the next byte x 4 ms
//   tag & 3 == 2  an adapter state: the next byte mod 6
#include "link/Watch.h"
#include "link/testing/FakePlatform.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <span>
#include <string>

namespace {

using namespace zt;

const Uuid kCharacteristic = *Uuid::fromString("613805b1-8dd4-4268-98ae-a6e72bf454ab");
const Uuid kOther = *Uuid::fromString("00002a00-0000-1000-8000-00805f9b34fb");

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

struct Reader {
    std::span<const std::uint8_t> data;
    std::uint8_t byte() { return data.empty() ? 0 : take(1)[0]; }
    std::span<const std::uint8_t> take(std::size_t n)
    {
        const auto out = data.first(std::min(n, data.size()));
        data = data.subspan(out.size());
        return out;
    }
    // Small steps around zero, and the values no sensor should send.
    float number()
    {
        const auto b = static_cast<std::int8_t>(byte());
        if (b == -128)
            return std::numeric_limits<float>::quiet_NaN();
        return b == 127 ? std::numeric_limits<float>::infinity() : static_cast<float>(b) / 8.0f;
    }
    void vector(Vec3* v)
    {
        v->set_x(number());
        v->set_y(number());
        v->set_z(number());
    }
};

// Shape byte: frame count (low nibble), one or two gestures, mouse settings.
Bytes update(Reader& in)
{
    Update update;
    const std::uint8_t shape = in.byte();
    for (int i = 0; i < (shape & 0x0f); ++i) {
        SensorFrame* frame = update.add_sensorframes();
        in.vector(frame->mutable_gyro());
        in.vector(frame->mutable_grav());
    }
    for (int i = 0; i < (shape >> 4) % 3; ++i)
        update.add_gestures()->set_type(static_cast<GestureType>(in.byte() % 5));
    if (shape & 0x80) {
        ZimtorvaInfo* settings = update.mutable_mouseinfo();
        settings->set_sensitivity(in.number());
        settings->set_smoothing(in.number());
        const std::uint8_t flags = in.byte();
        settings->set_cursoractive(static_cast<ZimtorvaInfo::ActiveState>(static_cast<std::int8_t>(flags) % 4));
        settings->set_lefthanded(flags & 0x10);
        settings->set_crownleft(flags & 0x20);
    }
    const std::string s = update.SerializeAsString();
    return Bytes(s.begin(), s.end());
}

void run(Reader in)
{
    testing::FakePlatform platform;
    std::shared_ptr<Watch> watch = Watch::create(platform);
    testing::ScriptedPeripheralManager& manager = *platform.manager();
    std::vector<ATTRequest> batch;
    std::uint64_t nextId = 1;

    auto deliver = [&] {
        std::vector<std::uint64_t> expected;
        for (const ATTRequest& r : batch)
            if (r.characteristic == kCharacteristic && r.value)
                expected.push_back(r.id);
        const std::size_t before = manager.responses.size();
        manager.deliverWrite(batch);
        // Exactly one success per accepted request, in order, its own.
        check(manager.responses.size() == before + expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            check(manager.responses[before + i].request.id == expected[i]);
            check(manager.responses[before + i].result == ATTResult::success);
        }
        check(expected.empty() || watch->connected);
        batch.clear();
    };

    while (!in.data.empty()) {
        const std::uint8_t tag = in.byte();
        if ((tag & 3) != 0 && !batch.empty())
            deliver();
        if ((tag & 3) == 0) {
            ATTRequest& r = batch.emplace_back();
            r.id = nextId++;
            r.central = Central{"central-" + std::to_string((tag >> 4) & 3)};
            r.characteristic = (tag & 0x04) ? kOther : kCharacteristic;
            if (!(tag & 0x08) && (tag & 0x40)) {
                const auto bytes = in.take(in.byte());
                r.value = Bytes(bytes.begin(), bytes.end());
            } else if (!(tag & 0x08)) {
                r.value = update(in);
            }
            if (tag & 0x80)
                deliver();
        } else if ((tag & 3) == 1) {
            platform.queue.advance(std::chrono::milliseconds(4 * in.byte()));
        } else if ((tag & 3) == 2) {
            manager.deliverState(static_cast<ManagerState>(in.byte() % 6));
        }
    }
    if (!batch.empty())
        deliver();

    // The link falls idle once writes stop, and the last move lets the Watch go.
    platform.queue.advance(std::chrono::hours(1)); // longer than any Update can span
    check(!watch->connected);
    std::weak_ptr<Watch> weak = watch;
    watch.reset();
    check(weak.expired());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The link prints a line per adapter report; keep the run quiet.
    static_cast<void>(std::freopen("/dev/null", "w", stdout));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    run(Reader{std::span<const std::uint8_t>(data, size)});
    return 0;
}
