// The road of an Update in one process, on the real backends: the daemon
// double writes on a private bus, the BlueZ manager hands the write to the
// Watch, the Qt main queue runs the moves, and the pointer of a private X
// server moves and clicks.

#include "fakebluez/FakeBluez.h"
#include "integration/MotionModel.h"
#include "integration/PointerObserver.h"
#include "integration/TestPlatform.h"
#include "integration/UpdateBuilder.h"
#include "integration/WaitUntil.h"
#include "link/Watch.h"
#include "support/PrivateBus.h"
#include "support/XvfbServer.h"

#include <QDBusMessage>

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace zt::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int startX = 640;
constexpr int startY = 400;
// Gravity straight along one axis of the watch: after the link's 1/9.81 it
// is (almost exactly) a unit vector.
constexpr Triple alongZ{0, 0, 9.81f};
constexpr Triple alongY{0, 9.81f, 0};
const QString otherDevice = QStringLiteral("/org/bluez/hci0/dev_11_22_33_44_55_66");

// Lines the link prints, kept for the test instead of going to the terminal.
class CapturedStdout {
public:
    CapturedStdout() : saved_(std::cout.rdbuf(text_.rdbuf())) {}
    ~CapturedStdout() { std::cout.rdbuf(saved_); }
    CapturedStdout(const CapturedStdout&) = delete;
    CapturedStdout& operator=(const CapturedStdout&) = delete;

    std::vector<std::string> lines() const
    {
        std::vector<std::string> result;
        std::istringstream in(text_.str());
        for (std::string line; std::getline(in, line);)
            result.push_back(line);
        return result;
    }

private:
    std::ostringstream text_;
    std::streambuf* saved_;
};

// One write of the watch: an Update the model follows too, or raw bytes.
struct Write {
    std::optional<Update> update;
    QByteArray raw;
    QString device = FakeBluez::devicePath;
};

Write write(const UpdateBuilder& builder, const QString& device = FakeBluez::devicePath)
{
    return {builder.update(), builder.bytes(), device};
}

Write raw(QByteArray bytes) { return {std::nullopt, std::move(bytes), FakeBluez::devicePath}; }

struct Delivery {
    bool value;
    Clock::time_point at;
};

class Road : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString address = QString::fromStdString(bus.address());
        fake = std::make_unique<FakeBluez>(address);
        ASSERT_TRUE(fake->start());
        platform = std::make_unique<TestPlatform>(xvfb.displayName(), address);
        observer = std::make_unique<PointerObserver>(xvfb.displayName(), Rect{0, 0, 1280, 800});
        observer->warp(startX, startY);

        watch = Watch::create(*platform);
        subscription = watch->connected.sink([this](bool value) { connected.push_back({value, Clock::now()}); });
        ASSERT_TRUE(waitUntil([&] { return fake->applications().size() == 1 && fake->advertisements().size() == 1; }))
            << fake->rejections().join(QLatin1Char(' ')).toStdString();
    }

    void TearDown() override
    {
        subscription.cancel();
        watch.reset();
        platform.reset();
        fake.reset();
    }

    int deliveriesOf(bool value) const
    {
        int n = 0;
        for (const Delivery& d : connected)
            n += d.value == value ? 1 : 0;
        return n;
    }

    // Sends one write and waits until the link has handled it and every
    // pointer move it scheduled has run, so the next write cannot overtake.
    void send(const Write& w)
    {
        const int accepted = deliveriesOf(true);
        if (w.update)
            model.apply(*w.update);
        ASSERT_TRUE(fake->writeValue(w.raw, FakeBluez::requestOptions(w.device)));
        ASSERT_TRUE(waitUntil([&] { return deliveriesOf(true) > accepted; })) << "the write never arrived";
        ASSERT_TRUE(waitUntil([&] { return static_cast<int>(platform->pointer().posts().size()) >= model.moves(); }))
            << "moves posted: " << platform->pointer().posts().size() << " of " << model.moves();
    }

    PrivateBus bus;
    XvfbServer xvfb;
    CapturedStdout out;
    std::unique_ptr<FakeBluez> fake;
    std::unique_ptr<TestPlatform> platform;
    std::unique_ptr<PointerObserver> observer;
    std::shared_ptr<Watch> watch;
    Cancellable subscription;
    std::vector<Delivery> connected;
    MotionModel model{startX, startY};
};

struct RoadCase {
    const char* name;
    std::vector<Write> writes;
};

void PrintTo(const RoadCase& c, std::ostream* out) { *out << c.name; }

class RoadCases : public Road, public ::testing::WithParamInterface<RoadCase> {};

TEST_P(RoadCases, ThePointerFollowsTheWatch)
{
    for (const Write& w : GetParam().writes)
        ASSERT_NO_FATAL_FAILURE(send(w));

    ASSERT_FALSE(model.expected().empty()) << "a case that moves nothing proves nothing";
    EXPECT_EQ(observer->events(), model.expected());
    EXPECT_EQ(static_cast<int>(platform->pointer().posts().size()), model.moves());
    // Every write reached the characteristic with a value: each one counts.
    EXPECT_EQ(deliveriesOf(true), static_cast<int>(GetParam().writes.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Writes, RoadCases,
    ::testing::Values(
        RoadCase{"SettingsFramesAndAPinchTap",
                 {write(UpdateBuilder()
                            .settings(0.5f, 0, ZimtorvaInfo::ACTIVE)
                            .gesture(PINCH_TAP)
                            .frame({0, 0.5f, 1}, alongZ)
                            .frame({0, -0.25f, 0.5f}, alongZ)
                            .frame({0.7f, 0.1f, -0.8f}, alongZ)
                            .frame({0, 1, 1}, alongZ))}},
        RoadCase{"HandednessFlipsTheVerticalAxis",
                 {write(UpdateBuilder()
                            .settings(1, 0, ZimtorvaInfo::ACTIVE, true, false)
                            .frame({0, 0.4f, 0.3f}, alongY)
                            .frame({0, -0.2f, 0.6f}, alongY)),
                  write(UpdateBuilder()
                            .settings(1, 0, ZimtorvaInfo::ACTIVE, true, true)
                            .frame({0, 0.4f, 0.3f}, alongY)
                            .frame({0, -0.2f, 0.6f}, alongY))}},
        // 0.3 pixel a frame: only a pointer that carries the fraction on
        // gets to 3 pixels after ten frames.
        RoadCase{"SubPixelTurnsAddUp",
                 {write(UpdateBuilder()
                            .settings(0.02f, 0, ZimtorvaInfo::ACTIVE)
                            .frame({0, 0, -0.5f}, alongZ)
                            .frame({0, 0, -0.5f}, alongZ)
                            .frame({0, 0, -0.5f}, alongZ)
                            .frame({0, 0, -0.5f}, alongZ)
                            .frame({0, 0, -0.5f}, alongZ)
                            .frame({0, 0, -0.5f}, alongZ)
                            .frame({0, 0, -0.5f}, alongZ)
                            .frame({0, 0, -0.5f}, alongZ)
                            .frame({0, 0, -0.5f}, alongZ)
                            .frame({0, 0, -0.5f}, alongZ))}},
        RoadCase{"SmoothingCarriesFromUpdateToUpdate",
                 {write(UpdateBuilder()
                            .settings(1, 0.1f, ZimtorvaInfo::ACTIVE)
                            .frame({0, 1, -2}, alongZ)
                            .frame({0, 1, -2}, alongZ)
                            .frame({0, 1, -2}, alongZ)),
                  write(UpdateBuilder().frame({}, alongZ).frame({}, alongZ).frame({}, alongZ))}},
        // A length that runs past the end, then zero bytes: both are
        // acknowledged and counted, neither moves anything.
        RoadCase{"UndecodableAndEmptyWritesMoveNothing",
                 {raw(QByteArray::fromHex("0aff01")), raw(QByteArray()),
                  write(UpdateBuilder().frame({0, 0.2f, 0.9f}, alongZ).frame({0, 0.2f, 0.9f}, alongZ))}},
        RoadCase{"AnInactiveCursorLosesTheTapAndTheFrames",
                 {write(UpdateBuilder()
                            .settings(1, 0, ZimtorvaInfo::INACTIVE)
                            .gesture(PINCH_TAP)
                            .frame({0, 1, 1}, alongZ)),
                  write(UpdateBuilder()
                            .settings(1, 0, ZimtorvaInfo::ACTIVE)
                            .frame({0, -1, 0.5f}, alongZ)
                            .frame({0, -1, 0.5f}, alongZ))}},
        RoadCase{"ATapWithoutFramesClicksWithTheNextMoves",
                 {write(UpdateBuilder().settings(0.8f, 0, ZimtorvaInfo::ACTIVE).gesture(PINCH_TAP)),
                  write(UpdateBuilder().frame({0, 0.5f, 0.5f}, alongZ).frame({0, 0.5f, -0.5f}, alongZ)),
                  write(UpdateBuilder().frame({0, -0.5f, 0.5f}, alongZ))}},
        RoadCase{"WritesFromTwoDevicesAreBothHeard",
                 {write(UpdateBuilder().settings(1, 0, ZimtorvaInfo::ACTIVE).frame({0, 0.3f, 0.4f}, alongZ)),
                  write(UpdateBuilder().frame({0, 0.3f, -0.4f}, alongZ), otherDevice),
                  write(UpdateBuilder().frame({0, -0.3f, 0.4f}, alongZ))}}),
    [](const ::testing::TestParamInfo<RoadCase>& info) { return std::string(info.param.name); });

TEST_F(Road, ConnectedRisesWithEveryWriteAndFallsOneSecondAfterTheLast)
{
    const auto tap = UpdateBuilder().settings(0.5f, 0, ZimtorvaInfo::ACTIVE).gesture(PINCH_TAP);
    ASSERT_NO_FATAL_FAILURE(send(write(UpdateBuilder(tap).frame({0, 0.5f, 1}, alongZ).frame({0, 0.5f, 1}, alongZ))));
    ASSERT_NO_FATAL_FAILURE(send(write(UpdateBuilder().frame({0, -0.5f, -1}, alongZ))));
    ASSERT_NO_FATAL_FAILURE(send(raw(QByteArray())));
    const auto lastWrite = connected.back().at;

    ASSERT_TRUE(waitUntil([&] { return !connected.back().value; }, 5s));
    // The current value at once, one true for each write, one false at the end.
    std::vector<bool> values;
    for (const Delivery& d : connected)
        values.push_back(d.value);
    EXPECT_EQ(values, (std::vector<bool>{false, true, true, true, false}));
    const auto fell = connected.back().at - lastWrite;
    EXPECT_GE(fell, 1000ms);
    EXPECT_LT(fell, 1500ms);
    EXPECT_EQ(observer->events(), model.expected());
}

TEST_F(Road, ReadsAreAnsweredWithTheGreetingAtAnyOffset)
{
    for (const quint16 offset : {0, 7, 300}) {
        std::optional<QDBusMessage> reply;
        ASSERT_TRUE(fake->readValue(FakeBluez::requestOptions(FakeBluez::devicePath, offset),
                                    [&](const QDBusMessage& m) { reply = m; }));
        ASSERT_TRUE(waitUntil([&] { return reply.has_value(); }));
        ASSERT_EQ(reply->type(), QDBusMessage::ReplyMessage) << reply->errorMessage().toStdString();
        EXPECT_EQ(reply->signature(), QStringLiteral("ay"));
        EXPECT_EQ(reply->arguments().value(0).toByteArray(), QByteArray("Hello, Central!")) << "offset " << offset;
    }
    const std::string readLine = "Received read request for characteristic 613805B1-8DD4-4268-98AE-A6E72BF454AB";
    EXPECT_EQ(out.lines(), (std::vector<std::string>{"Bluetooth is powered on and ready to go!", readLine, readLine,
                                                     readLine}));
    // Reads are not activity: connected holds only its first delivery.
    EXPECT_EQ(connected.size(), 1u);
}

} // namespace
} // namespace zt::test
