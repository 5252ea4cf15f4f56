#include "link/tests/WatchTestFixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace zt {
// Names the adapter state in test names.
inline void PrintTo(ManagerState state, std::ostream* os) { *os << "state " << static_cast<int>(state); }
} // namespace zt

namespace zt::testing {
namespace {

using namespace std::chrono_literals;
using Call = ScriptedPeripheralManager::Call;

std::string capturedStdout(const std::function<void()>& action)
{
    ::testing::internal::CaptureStdout();
    action();
    return ::testing::internal::GetCapturedStdout();
}

// Every assignment to a published boolean, the initial delivery included.
struct Recorder {
    std::vector<bool> values;
    Cancellable subscription;
    explicit Recorder(Published<bool>& published)
        : subscription(published.sink([this](const bool& v) { values.push_back(v); }))
    {
    }
};

TEST_F(WatchTest, EveryPoweredOnReportRegistersTheServiceAndAdvertises)
{
    const std::string out = capturedStdout([&] {
        manager->deliverState(ManagerState::poweredOn);
        manager->deliverState(ManagerState::poweredOff);
        manager->deliverState(ManagerState::poweredOn);
    });
    EXPECT_EQ(out, "Bluetooth is powered on and ready to go!\n"
                   "Bluetooth is not available\n"
                   "Bluetooth is powered on and ready to go!\n");
    // Nothing is removed or stopped in between.
    EXPECT_EQ(manager->calls, (std::vector<Call>{Call::add, Call::startAdvertising, Call::add, Call::startAdvertising}));

    for (const ServiceDescription& service : manager->addedServices) {
        EXPECT_EQ(service.uuid, serviceUuid());
        EXPECT_TRUE(service.primary);
        ASSERT_EQ(service.characteristics.size(), 1u);
        const CharacteristicDescription& characteristic = service.characteristics[0];
        EXPECT_EQ(characteristic.uuid, characteristicUuid());
        EXPECT_EQ(characteristic.properties, 6u);
        EXPECT_EQ(characteristic.permissions, 3u);
        EXPECT_FALSE(characteristic.value.has_value());
    }
    for (const AdvertisementData& advertisement : manager->advertisements) {
        EXPECT_EQ(advertisement.localName, "MyGATTServer");
        EXPECT_EQ(advertisement.serviceUUIDs, std::vector<Uuid>{serviceUuid()});
    }
}

class WatchOtherStates : public WatchTest, public ::testing::WithParamInterface<ManagerState> {};

TEST_P(WatchOtherStates, PrintOneLineAndTouchNothing)
{
    const std::string out = capturedStdout([&] { manager->deliverState(GetParam()); });
    EXPECT_EQ(out, "Bluetooth is not available\n");
    EXPECT_TRUE(manager->calls.empty());
}

INSTANTIATE_TEST_SUITE_P(States, WatchOtherStates,
                         ::testing::Values(ManagerState::unknown, ManagerState::resetting, ManagerState::unsupported,
                                           ManagerState::unauthorized, ManagerState::poweredOff),
                         [](const auto& info) { return std::to_string(static_cast<int>(info.param)); });

struct ReadCase {
    const char* name;
    Uuid characteristic;
    std::size_t offset;
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class WatchRead : public WatchTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(WatchRead, AnswersTheWholeGreetingWhateverWasAsked)
{
    ATTRequest read = request(std::nullopt, "reader", GetParam().characteristic);
    read.offset = GetParam().offset;
    ATTRequest answered;
    const std::string out = capturedStdout([&] { answered = manager->deliverRead(read); });

    EXPECT_EQ(out, "Received read request for characteristic " + GetParam().characteristic.toString() + "\n");
    const Bytes greeting = bytesOf("Hello, Central!");
    ASSERT_EQ(greeting.size(), 15u);
    EXPECT_EQ(answered.value, greeting);
    ASSERT_EQ(manager->responses.size(), 1u);
    EXPECT_EQ(manager->responses[0].request.id, read.id);
    EXPECT_EQ(manager->responses[0].request.value, greeting);
    EXPECT_EQ(manager->responses[0].result, ATTResult::success);
    // Reads neither mark the link live nor change the tracked central.
    EXPECT_FALSE(watch->connected);
    EXPECT_TRUE(manager->latencyRequests.empty());
}

INSTANTIATE_TEST_SUITE_P(Table, WatchRead,
                         ::testing::Values(ReadCase{"OurCharacteristic", characteristicUuid(), 0},
                                           ReadCase{"AtAnOffset", characteristicUuid(), 9},
                                           ReadCase{"OtherCharacteristic", otherUuid(), 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WatchTest, WriteBatchRunsEachStepInOrder)
{
    Update pinch;
    addGesture(pinch, PINCH_TAP);
    const std::vector<ATTRequest> batch{
        request(Bytes{}, "A"),                              // empty: the default Update, accepted
        request(encode(pinch), "A", otherUuid()),           // other characteristic: skipped
        request(std::nullopt, "B"),                         // new central, no value: skipped
        request(encode(pinch), "B"),                        // accepted
        request(Bytes{0x0a, 0x05, 0x01}, "B"),              // undecodable: still answered
        request(encode(pinch), "C", otherUuid()),           // new central on a skipped request
        request(std::nullopt, "A"),                         // back to an earlier one: asked again
    };
    Recorder connected(watch->connected);
    const std::string out = capturedStdout([&] { manager->deliverWrite(batch); });

    EXPECT_EQ(out, "");
    EXPECT_EQ(manager->calls, (std::vector<Call>{Call::setDesiredConnectionLatency, Call::respond,
                                                 Call::setDesiredConnectionLatency, Call::respond, Call::respond,
                                                 Call::setDesiredConnectionLatency, Call::setDesiredConnectionLatency}));
    std::vector<std::uint64_t> answered;
    for (const auto& r : manager->responses) {
        answered.push_back(r.request.id);
        EXPECT_EQ(r.result, ATTResult::success);
    }
    EXPECT_EQ(answered, (std::vector<std::uint64_t>{batch[0].id, batch[3].id, batch[4].id}));
    std::vector<std::string> latencyCentrals;
    for (const auto& l : manager->latencyRequests) {
        latencyCentrals.push_back(l.central.identifier);
        EXPECT_EQ(l.latency, ConnectionLatency::low);
    }
    EXPECT_EQ(latencyCentrals, (std::vector<std::string>{"A", "B", "C", "A"}));
    // The initial delivery, then one assignment per accepted request.
    EXPECT_EQ(connected.values, (std::vector<bool>{false, true, true, true}));
}

TEST_F(WatchTest, PartlyDecodedValueIsDiscardedWhole)
{
    Update update;
    addGesture(update, PINCH_TAP);
    addFrame(update, {{0, 1, 1}, {0, 9.81f, 9.81f}});
    Bytes bytes = encode(update);
    bytes.insert(bytes.end(), {0x12, 0x7f}); // a gesture claiming 127 bytes that never come

    manager->deliverWrite({request(bytes)});
    EXPECT_EQ(manager->responses.size(), 1u);
    EXPECT_TRUE(watch->connected);
    platform.queue.advance(100ms);
    EXPECT_TRUE(platform.pointer.events.empty());
}

TEST_F(WatchTest, TimerFiresOnceOneSecondAfterTheLastWriteOfABatch)
{
    Recorder connected(watch->connected);
    manager->deliverWrite({request(Bytes{}), request(Bytes{}), request(Bytes{})});

    std::size_t timers = 0;
    for (const auto& p : platform.queue.pending())
        timers += p.timer ? 1 : 0;
    EXPECT_EQ(timers, 1u);

    platform.queue.advance(1s - 1ns);
    EXPECT_TRUE(watch->connected);
    platform.queue.advance(1ns);
    EXPECT_FALSE(watch->connected);
    platform.queue.advance(5s);
    EXPECT_EQ(connected.values, (std::vector<bool>{false, true, true, true, false}));
}

TEST_F(WatchTest, EachAcceptedWriteRestartsTheTimerSkippedOnesDoNot)
{
    manager->deliverWrite({request(Bytes{})});
    platform.queue.advance(900ms);
    manager->deliverWrite({request(Bytes{})});
    platform.queue.advance(500ms);
    manager->deliverWrite({request(Bytes{}, "central-A", otherUuid()), request(std::nullopt)});
    platform.queue.advance(500ms - 1ns); // 1.0 s after the second accepted write, less 1 ns
    EXPECT_TRUE(watch->connected);
    platform.queue.advance(1ns);
    EXPECT_FALSE(watch->connected);
}

TEST_F(WatchTest, PendingTimerDoesNotKeepTheWatchAliveNorFireIntoIt)
{
    manager->deliverWrite({request(Bytes{})});
    std::weak_ptr<Watch> weak = watch;
    watch.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(platform.manager(), nullptr); // the Watch owned its manager
    platform.queue.advance(2s);             // the timer runs and finds nothing
    EXPECT_EQ(platform.queue.ranCount(), 1u);
}

TEST_F(WatchTest, PendingMovesKeepTheWatchAliveUntilTheyRun)
{
    Update update;
    addFrame(update, {{0, 0, 1}, {0, 0, 9.81f}});
    addFrame(update, {{0, 0, 1}, {0, 0, 9.81f}});
    write(update);
    std::weak_ptr<Watch> weak = watch;
    watch.reset();
    platform.queue.runDue();
    EXPECT_FALSE(weak.expired());
    EXPECT_EQ(platform.pointer.events.size(), 1u);
    platform.queue.advance(10ms);
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(platform.pointer.events.size(), 2u);
}

TEST_F(WatchTest, SubscriberDroppingTheLastReferenceMidBatchIsSafe)
{
    int deliveries = 0;
    Cancellable c = watch->connected.sink([&](const bool&) {
        if (++deliveries == 2)
            watch.reset(); // nothing else holds it: no moves are pending
    });
    manager->deliverWrite({request(Bytes{}), request(Bytes{})});
    EXPECT_EQ(deliveries, 3);                // the batch ran to its end
    EXPECT_EQ(platform.manager(), nullptr); // and the Watch went after it
}

} // namespace
} // namespace zt::testing
