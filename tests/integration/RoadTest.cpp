// The road of an Update in one process on the real backends: the daemon double
// writes on a private bus, the BlueZ manager hands the write to the Watch, the
// Qt main queue runs the moves, and the pointer of a private X server moves.

#include "fakebluez/FakeBluez.h"
#include "integration/MotionModel.h"
#include "integration/ScreenInspector.h"
#include "integration/TestPlatform.h"
#include "integration/UpdateBuilder.h"
#include "integration/WaitUntil.h"
#include "link/Watch.h"
#include "support/PrivateBus.h"
#include "support/XvfbServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zt::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int startX = 640;
constexpr int startY = 400;
// Gravity straight along the watch's z axis: a unit vector after the link's 1/9.81.
constexpr Triple alongZ{0, 0, 9.81f};
constexpr auto active = ZimtorvaInfo::ACTIVE;

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

Write raw(QByteArray bytes) { return {std::nullopt, std::move(bytes)}; }

class Road : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString address = QString::fromStdString(bus.address());
        fake = std::make_unique<FakeBluez>(address);
        ASSERT_TRUE(fake->start());
        platform = std::make_unique<TestPlatform>(xvfb.displayName(), address);
        screen = std::make_unique<ScreenInspector>(xvfb.displayName());
        screen->watchPointer({0, 0, 1280, 800});
        screen->warp(startX, startY);

        watch = Watch::create(*platform);
        subscription = watch->connected.sink([this](bool value) { connected.push_back({value, Clock::now()}); });
        ASSERT_TRUE(waitUntil([&] { return fake->applications().size() == 1 && fake->advertisements().size() == 1; }))
            << fake->rejections().join(QLatin1Char(' ')).toStdString();
    }

    int deliveriesOf(bool value) const
    {
        return static_cast<int>(std::count_if(connected.begin(), connected.end(),
                                              [&](const auto& d) { return d.first == value; }));
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
        // The pointer does not wait for the server to act on its events.
        ASSERT_TRUE(waitUntil([&] { return screen->pointerEvents().size() >= model.expected().size(); }))
            << "events so far: " << ::testing::PrintToString(screen->pointerEvents());
    }

    PrivateBus bus;
    XvfbServer xvfb;
    std::unique_ptr<FakeBluez> fake;
    std::unique_ptr<TestPlatform> platform;
    std::unique_ptr<ScreenInspector> screen;
    std::vector<std::pair<bool, Clock::time_point>> connected;
    MotionModel model{startX, startY};
    // Torn down first: the subscription, the Watch, then the platform it uses.
    std::shared_ptr<Watch> watch;
    Cancellable subscription;
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
    EXPECT_EQ(screen->pointerEvents(), model.expected());
    EXPECT_EQ(static_cast<int>(platform->pointer().posts().size()), model.moves());
    // Every write reached the characteristic with a value: each one counts.
    EXPECT_EQ(deliveriesOf(true), static_cast<int>(GetParam().writes.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Writes, RoadCases,
    ::testing::Values(
        RoadCase{"SettingsFramesAndAPinchTap",
                 {write(UpdateBuilder()
                            .settings(0.5f, 0, active)
                            .gesture(PINCH_TAP)
                            .frame({0, 0.5f, 1}, alongZ)
                            .frame({0, -0.25f, 0.5f}, alongZ)
                            .frame({0.7f, 0.1f, -0.8f}, alongZ)
                            .frame({0, 1, 1}, alongZ))}},
        // 0.3 pixel a frame: only a pointer that carries the fraction on
        // gets to 3 pixels after ten frames.
        RoadCase{"SubPixelTurnsAddUp",
                 {write(UpdateBuilder().settings(0.02f, 0, active).frame({0, 0, -0.5f}, alongZ, 10))}},
        // A length that runs past the end, then zero bytes: both are
        // acknowledged and counted, neither moves anything.
        RoadCase{"UndecodableAndEmptyWritesMoveNothing",
                 {raw(QByteArray::fromHex("0aff01")), raw(QByteArray()),
                  write(UpdateBuilder().frame({0, 0.2f, 0.9f}, alongZ, 2))}},
        RoadCase{"WritesFromTwoDevicesAreBothHeard",
                 {write(UpdateBuilder().settings(1, 0, active).frame({0, 0.3f, 0.4f}, alongZ)),
                  write(UpdateBuilder().frame({0, 0.3f, -0.4f}, alongZ),
                        QStringLiteral("/org/bluez/hci0/dev_11_22_33_44_55_66")),
                  write(UpdateBuilder().frame({0, -0.3f, 0.4f}, alongZ))}}),
    [](const ::testing::TestParamInfo<RoadCase>& info) { return std::string(info.param.name); });

TEST_F(Road, ConnectedRisesWithEveryWriteAndFallsOneSecondAfterTheLast)
{
    const auto tap = UpdateBuilder().settings(0.5f, 0, active).gesture(PINCH_TAP);
    ASSERT_NO_FATAL_FAILURE(send(write(UpdateBuilder(tap).frame({0, 0.5f, 1}, alongZ, 2))));
    ASSERT_NO_FATAL_FAILURE(send(write(UpdateBuilder().frame({0, -0.5f, -1}, alongZ))));
    ASSERT_NO_FATAL_FAILURE(send(raw(QByteArray())));
    const auto lastWrite = connected.back().second;

    ASSERT_TRUE(waitUntil([&] { return !connected.back().first; }, 5s));
    // The current value at once, one true for each write, one false at the end.
    std::vector<bool> values;
    for (const auto& d : connected)
        values.push_back(d.first);
    EXPECT_EQ(values, (std::vector<bool>{false, true, true, true, false}));
    const auto fell = connected.back().second - lastWrite;
    EXPECT_GE(fell, 1000ms);
    EXPECT_LT(fell, 1500ms);
    EXPECT_EQ(screen->pointerEvents(), model.expected());
}

} // namespace
} // namespace zt::test
