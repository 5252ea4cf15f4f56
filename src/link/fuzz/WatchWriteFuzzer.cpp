// Drives the Watch's callbacks with fuzzed scripts (see WriteScript.h) on
// the fakes and checks what must hold whatever the watch sends.
#include "link/Watch.h"
#include "link/fuzz/WriteScript.h"
#include "link/testing/FakePlatform.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using namespace zt;
using namespace zt::fuzz;

const Uuid kCharacteristic = *Uuid::fromString("613805b1-8dd4-4268-98ae-a6e72bf454ab");
const Uuid kOther = *Uuid::fromString("00002a00-0000-1000-8000-00805f9b34fb");

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}
    bool done() const { return pos_ >= data_.size(); }
    std::uint8_t byte() { return done() ? 0 : data_[pos_++]; }
    std::span<const std::uint8_t> take(std::size_t n)
    {
        n = std::min(n, data_.size() - pos_);
        auto out = data_.subspan(pos_, n);
        pos_ += n;
        return out;
    }

private:
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
};

void run(std::span<const std::uint8_t> data)
{
    testing::FakePlatform platform;
    std::shared_ptr<Watch> watch = Watch::create(platform);
    testing::ScriptedPeripheralManager& manager = *platform.manager();

    Reader in(data);
    std::vector<ATTRequest> batch;
    std::size_t accepted = 0;
    std::uint64_t nextId = 1;

    auto deliver = [&] {
        if (batch.empty())
            return;
        const std::size_t before = manager.responses.size();
        std::vector<std::uint64_t> expected;
        for (const ATTRequest& r : batch)
            if (r.characteristic == kCharacteristic && r.value)
                expected.push_back(r.id);
        manager.deliverWrite(batch);
        // Exactly one success per accepted request, in order, its own.
        check(manager.responses.size() == before + expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            check(manager.responses[before + i].request.id == expected[i]);
            check(manager.responses[before + i].result == ATTResult::success);
        }
        check(expected.empty() || watch->connected);
        accepted += expected.size();
        batch.clear();
    };

    while (!in.done()) {
        const std::uint8_t tag = in.byte();
        switch (tag & opMask) {
        case opWrite: {
            ATTRequest r;
            r.id = nextId++;
            r.central = Central{"central-" + std::to_string((tag & writeCentralMask) >> writeCentralShift)};
            r.characteristic = (tag & writeOtherCharacteristic) ? kOther : kCharacteristic;
            if (!(tag & writeNoValue)) {
                const std::size_t length = in.byte() | (std::size_t{in.byte()} << 8);
                auto bytes = in.take(length);
                r.value = Bytes(bytes.begin(), bytes.end());
            }
            batch.push_back(std::move(r));
            if (tag & writeEndsBatch)
                deliver();
            break;
        }
        case opAdvance:
            deliver();
            platform.queue.advance(std::chrono::milliseconds(4 * in.byte()));
            break;
        case opState:
            deliver();
            manager.deliverState(static_cast<ManagerState>(in.byte() % 6));
            break;
        case opRead: {
            deliver();
            ATTRequest r;
            r.id = nextId++;
            r.characteristic = kCharacteristic;
            r.offset = in.byte();
            const ATTRequest answered = manager.deliverRead(r);
            check(answered.value && answered.value->size() == 15);
            break;
        }
        case opPointer: {
            const std::uint8_t flags = in.byte();
            if (flags & 0x01)
                platform.pointer.location.reset();
            else
                platform.pointer.location = Point{0, 0};
            platform.pointer.failEventCreation = (flags & 0x02) != 0;
            if (flags & 0x04) {
                float sensitivity = 0;
                auto bytes = in.take(sizeof sensitivity);
                std::memcpy(&sensitivity, bytes.data(), bytes.size());
                watch->cursorController().sensitivity = sensitivity;
            }
            break;
        }
        default:
            break;
        }
    }
    deliver();

    // Every pending move runs and the link falls idle once writes stop.
    platform.queue.advance(std::chrono::hours(1)); // longer than any Update can span
    check(platform.queue.pending().empty());
    check(!watch->connected);
    check(manager.responses.size() >= accepted);
    std::weak_ptr<Watch> weak = watch;
    watch.reset();
    check(weak.expired());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The link prints a line per adapter report and read; keep the run quiet.
    if (!std::freopen("/dev/null", "w", stdout))
        return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    run(std::span<const std::uint8_t>(data, size));
    return 0;
}
