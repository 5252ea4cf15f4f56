#include "link/tests/WatchTestFixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace zt::testing {
namespace {

using namespace std::chrono_literals;

std::string capturedStdout(const std::function<void()>& action)
{
    ::testing::internal::CaptureStdout();
    action();
    return ::testing::internal::GetCapturedStdout();
}

// Every assignment to `connected`, the initial delivery included.
struct ConnectedLog {
    std::vector<bool> values;
    Cancellable subscription;
    explicit ConnectedLog(Watch& watch)
        : subscription(watch.connected.sink([this](const bool& v) { values.push_back(v); }))
    {
    }
};

TEST_F(WatchTest, EveryPoweredOnReportRegistersTheServiceAndAdvertises)
{
    for (ManagerState state : {ManagerState::unknown, ManagerState::resetting, ManagerState::unsupported,
                               ManagerState::unauthorized, ManagerState::poweredOff}) {
        EXPECT_EQ(capturedStdout([&] { manager->deliverState(state); }), "Bluetooth is not available\n");
        EXPECT_TRUE(manager->log.empty());
    }
    const std::string out = capturedStdout([&] {
        for (ManagerState state : {ManagerState::poweredOn, ManagerState::poweredOff, ManagerState::poweredOn})
            manager->deliverState(state);
    });
    EXPECT_EQ(out, "Bluetooth is powered on and ready to go!\n"
                   "Bluetooth is not available\n"
                   "Bluetooth is powered on and ready to go!\n");
    // Nothing is removed or stopped in between.
    EXPECT_EQ(manager->log, (std::vector<std::string>{"add", "startAdvertising", "add", "startAdvertising"}));

    for (const ServiceDescription& service : manager->addedServices) {
        EXPECT_EQ(service.uuid, serviceUuid());
        EXPECT_TRUE(service.primary);
        ASSERT_EQ(service.characteristics.size(), 1u);
        EXPECT_EQ(service.characteristics[0].uuid, characteristicUuid());
        EXPECT_EQ(service.characteristics[0].properties, 6u);
        EXPECT_EQ(service.characteristics[0].permissions, 3u);
        EXPECT_FALSE(service.characteristics[0].value.has_value());
    }
    for (const AdvertisementData& advertisement : manager->advertisements) {
        EXPECT_EQ(advertisement.localName, "MyGATTServer");
        EXPECT_EQ(advertisement.serviceUUIDs, std::vector<Uuid>{serviceUuid()});
    }
}

TEST_F(WatchTest, ReadsAnswerTheWholeGreetingWhateverWasAsked)
{
    // Neither the characteristic nor the offset is looked at.
    ATTRequest read = request(std::nullopt, "reader", otherUuid());
    read.offset = 9;
    ATTRequest answered;
    const std::string out = capturedStdout([&] { answered = manager->deliverRead(read); });
    EXPECT_EQ(out, "Received read request for characteristic 613805B2-8DD4-4268-98AE-A6E72BF454AB\n");
    EXPECT_EQ(answered.value, bytesOf("Hello, Central!"));
    ASSERT_EQ(manager->responses.size(), 1u);
    EXPECT_EQ(manager->responses[0].request.value, answered.value);
    // Reads neither mark the link live nor change the tracked central.
    EXPECT_EQ(manager->log, std::vector<std::string>{"respond 1 success"});
    EXPECT_FALSE(watch->connected);
}

TEST_F(WatchTest, WriteBatchRunsEachStepInOrder)
{
    Update pinch;
    pinch.add_gestures()->set_type(PINCH_TAP);
    Update moving = pinch;
    addFrame(moving, {0, 1, 1}, {0, 9.81f, 9.81f});
    Bytes truncated = encode(moving);
    truncated.insert(truncated.end(), {0x12, 0x7f}); // a gesture claiming 127 bytes that never come
    const std::vector<ATTRequest> batch{
        request(Bytes{}, "A"),                     // empty: the default Update, accepted
        request(encode(moving), "A", otherUuid()), // other characteristic: skipped
        request(std::nullopt, "B"),                // new central, no value: skipped
        request(encode(pinch), "B"),               // accepted
        request(truncated, "B"),                   // undecodable: discarded whole, still answered
        request(encode(moving), "C", otherUuid()), // new central on a skipped request
        request(std::nullopt, "A"),                // back to an earlier one: asked again
    };
    ConnectedLog connected(*watch);
    EXPECT_EQ(capturedStdout([&] { manager->deliverWrite(batch); }), "");

    EXPECT_EQ(manager->log, (std::vector<std::string>{"latency low A", "respond 1 success", "latency low B",
                                                      "respond 4 success", "respond 5 success", "latency low C",
                                                      "latency low A"}));
    // The initial delivery, then one assignment per accepted request.
    EXPECT_EQ(connected.values, (std::vector<bool>{false, true, true, true}));
    platform.queue.advance(100ms);
    EXPECT_TRUE(platform.pointer.events.empty());
}

// The fake queue as the Watch sees it, noting every hand-over in `log`.
class TracingQueue final : public MainQueue {
public:
    explicit TracingQueue(MainQueue& inner) : inner_(inner) {}
    MonoTime now() const override { return inner_.now(); }
    void asyncAfter(MonoTime deadline, std::function<void()> work) override
    {
        log->push_back("asyncAfter");
        inner_.asyncAfter(deadline, std::move(work));
    }
    std::shared_ptr<Timer> scheduledTimer(std::chrono::duration<double> interval, std::function<void()> block) override
    {
        log->push_back("timer");
        return inner_.scheduledTimer(interval, std::move(block));
    }
    std::vector<std::string>* log = nullptr;

private:
    MainQueue& inner_;
};

class TracingPlatform final : public FakePlatform {
public:
    MainQueue& mainQueue() override { return tracing; }
    TracingQueue tracing{queue};
};

// Within one request: decoding and handleUpdate (the settings it applies,
// the run of its moves it hands the queue), then the answer, then `connected` and the timer.
// One log holds the manager's calls, both published values and the queue.
TEST(WatchWriteOrder, EachRequestIsHandledThenAnsweredThenMarksTheLink)
{
    Update inactive;
    inactive.mutable_mouseinfo()->set_cursoractive(ZimtorvaInfo::INACTIVE);
    Update active;
    active.mutable_mouseinfo()->set_cursoractive(ZimtorvaInfo::ACTIVE);
    addFrame(active, {0, 1, 1}, {0, 0, 9.81f});
    addFrame(active, {0, 1, 1}, {0, 0, 9.81f});
    const struct {
        const char* name;
        std::vector<Bytes> values;
        std::vector<std::string> log;
    } cases[] = {
        {"Settings", {encode(inactive)},
         {"latency low A", "active false", "respond 1 success", "connected true", "timer"}},
        {"Moves", {encode(active)},
         {"latency low A", "active true", "asyncAfter", "respond 1 success", "connected true", "timer"}},
        {"Undecodable", {Bytes{0x12, 0x7f}}, {"latency low A", "respond 1 success", "connected true", "timer"}},
        {"Batch", {encode(inactive), encode(active)},
         {"latency low A", "active false", "respond 1 success", "connected true", "timer", "active true",
          "asyncAfter", "respond 2 success", "connected true", "timer"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TracingPlatform platform;
        const std::shared_ptr<Watch> watch = Watch::create(platform);
        ScriptedPeripheralManager& manager = *platform.manager();
        platform.tracing.log = &manager.log;
        const auto note = [&](std::string name) {
            return [&manager, name](const bool& v) { manager.log.push_back(name + (v ? " true" : " false")); };
        };
        const Cancellable activeSubscription = watch->active.sink(note("active"));
        const Cancellable connectedSubscription = watch->connected.sink(note("connected"));
        manager.log.clear();

        std::vector<ATTRequest> requests;
        for (const Bytes& value : c.values)
            requests.push_back({.id = requests.size() + 1, .central = {"A"}, .characteristic = characteristicUuid(),
                                .value = value});
        manager.deliverWrite(requests);
        EXPECT_EQ(manager.log, c.log);
    }
}

TEST_F(WatchTest, ActivityTimerFiresOnceOneSecondAfterTheLastAcceptedWrite)
{
    ConnectedLog connected(*watch);
    // Each write invalidates the timer before: a stale one would end the link early.
    manager->deliverWrite({request(Bytes{}), request(Bytes{}), request(Bytes{})});
    platform.queue.advance(900ms);
    manager->deliverWrite({request(Bytes{})});
    platform.queue.advance(500ms);
    manager->deliverWrite({request(Bytes{}, "central-A", otherUuid()), request(std::nullopt)});
    platform.queue.advance(500ms - 1ns); // 1.0 s after the last accepted write, less 1 ns
    EXPECT_TRUE(watch->connected);
    platform.queue.advance(1ns);
    EXPECT_FALSE(watch->connected);
    platform.queue.advance(5s);
    EXPECT_EQ(connected.values, (std::vector<bool>{false, true, true, true, true, false}));
}

TEST_F(WatchTest, SubscriberDroppingTheLastReferenceMidBatchIsSafe)
{
    std::weak_ptr<Watch> weak = watch;
    int deliveries = 0;
    Cancellable c = watch->connected.sink([&](const bool&) {
        if (++deliveries == 2)
            watch.reset(); // nothing else holds it: no moves are pending
    });
    manager->deliverWrite({request(Bytes{}), request(Bytes{})});
    EXPECT_EQ(deliveries, 3); // the batch ran to its end
    EXPECT_TRUE(weak.expired());
}

} // namespace
} // namespace zt::testing
