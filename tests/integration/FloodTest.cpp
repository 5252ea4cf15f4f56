// A central writing far faster than the pointer can follow: the daemon double,
// in a process of its own, floods the real BlueZ manager on a private bus with
// writes flagged no-reply, while the pointer of a private X server takes
// milliseconds per event. The link must keep reading and answering, every
// write must count, and the pointer must end where all the moves put it.

#include "integration/MotionModel.h"
#include "integration/ScreenInspector.h"
#include "integration/TestPlatform.h"
#include "integration/UpdateBuilder.h"
#include "integration/WaitUntil.h"
#include "link/Watch.h"
#include "support/ChildProcess.h"
#include "support/PrivateBus.h"
#include "support/XvfbServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zt::test {
namespace {

using namespace std::chrono_literals;

constexpr int startX = 150;
constexpr int startY = 650;
constexpr Triple alongZ{0, 0, 9.81f};
const std::string greeting = "read 48656c6c6f2c2043656e7472616c21";
// How long BlueZ waits for a read before it fails the central's request.
constexpr auto readTimeout = 5s;

// Every frame moves the pointer the same small step (at sensitivity 0.25,
// about +0.12 px and -0.06 px): in whatever order the moves of many writes
// interleave, the pointer stays on the screen and ends at the same place.
UpdateBuilder steps(int frames) { return UpdateBuilder().frame({0, 1.0f / 128, -1.0f / 64}, alongZ, frames); }

// Padded with 64 KiB the link ignores: two thousand of them are twice what
// libdbus holds for a connection that does not free what it read (63 MiB).
UpdateBuilder floodWrite() { return steps(2).padding(64 * 1024); }

class Flood : public ::testing::Test {
protected:
    void SetUp() override
    {
        bluez = std::make_unique<ChildProcess>("fake-bluez", std::vector<std::string>{ZT_FAKE_BLUEZ_PATH},
                                               ChildProcess::Environment{{"DBUS_SYSTEM_BUS_ADDRESS", bus.address()}});
        ASSERT_TRUE(line({"ready "})) << bluez->diagnostics();
        // Five milliseconds per pointer event: the pointer can follow 100
        // writes a second, the flood comes a hundred times as fast.
        platform = std::make_unique<TestPlatform>(xvfb.displayName(), QString::fromStdString(bus.address()), 5ms);
        screen.watchPointer({0, 0, 1280, 800});
        screen.warp(startX, startY);
        watch = Watch::create(*platform);
        subscription = watch->connected.sink([this](bool value) { accepted += value ? 1 : 0; });
        ASSERT_TRUE(line({"application "})) << bluez->diagnostics();
        ASSERT_TRUE(line({"advertisement "})) << bluez->diagnostics();
        accepted = 0;
    }

    // The first line from index `from` on that starts with one of `prefixes`,
    // while the event loop runs the link.
    std::optional<std::string> line(std::initializer_list<std::string_view> prefixes, std::size_t from = 0,
                                    std::chrono::milliseconds limit = 20s)
    {
        std::optional<std::string> found;
        waitUntil(
            [&] {
                const std::vector<std::string>& lines = bluez->lines();
                for (std::size_t i = from; i < lines.size() && !found; ++i)
                    if (std::ranges::any_of(prefixes, [&](std::string_view p) { return lines[i].starts_with(p); }))
                        found = lines[i];
                return found || !bluez->running();
            },
            limit);
        return found;
    }

    std::string command(const std::string& text, std::chrono::milliseconds limit = 20s)
    {
        const std::size_t from = bluez->lines().size();
        bluez->send(text);
        return line({"ok", "error", "read"}, from, limit).value_or("(no answer)");
    }

    void write(const UpdateBuilder& u)
    {
        model.apply(u.update());
        ASSERT_EQ(command("write " + u.bytes().toHex().toStdString()), "ok");
        ++written;
    }

    void flood(int count, const UpdateBuilder& u)
    {
        for (int i = 0; i < count; ++i)
            model.apply(u.update());
        ASSERT_EQ(command("flood " + std::to_string(count) + " " + u.bytes().toHex().toStdString()),
                  "ok " + std::to_string(count));
        written += count;
    }

    static std::vector<PointerEvent::Kind> clicks(const std::vector<PointerEvent>& events)
    {
        std::vector<PointerEvent::Kind> kinds;
        for (const PointerEvent& e : events)
            if (e.kind != PointerEvent::Kind::motion)
                kinds.push_back(e.kind);
        return kinds;
    }

    PrivateBus bus;
    XvfbServer xvfb;
    ScreenInspector screen{xvfb.displayName()};
    std::unique_ptr<ChildProcess> bluez;
    std::unique_ptr<TestPlatform> platform;
    MotionModel model{startX, startY};
    int accepted = 0;
    int written = 0;
    // Torn down first: the subscription, the Watch, then the platform it uses.
    std::shared_ptr<Watch> watch;
    Cancellable subscription;
};

TEST_F(Flood, TheLinkKeepsAnsweringAndThePointerEndsWhereEveryMovePutsIt)
{
    ASSERT_NO_FATAL_FAILURE(write(UpdateBuilder().settings(0.25f, 0, ZimtorvaInfo::ACTIVE)));
    const UpdateBuilder tap = steps(2).gesture(PINCH_TAP);

    for (const int count : {2000, 500}) {
        SCOPED_TRACE(count);
        ASSERT_NO_FATAL_FAILURE(flood(count, floodWrite()));
        // Queued behind the whole flood, and still answered in time.
        EXPECT_EQ(command("read", readTimeout), greeting) << "the link stopped reading";
        const auto releases = std::ranges::count(clicks(screen.pointerEvents()), PointerEvent::Kind::release);
        ASSERT_NO_FATAL_FAILURE(write(tap));
        // The next tap must not arm while this click is still out.
        ASSERT_TRUE(waitUntil([&] {
            return std::ranges::count(clicks(screen.pointerEvents()), PointerEvent::Kind::release) > releases;
        })) << "the click never came";
    }

    ASSERT_TRUE(waitUntil([&] { return accepted == written; }, 20s)) << accepted << " of " << written << " writes";
    const PointerEvent last = model.expected().back();
    ASSERT_TRUE(waitUntil([&] {
        const auto& events = screen.pointerEvents();
        return !events.empty() && events.back().x == last.x && events.back().y == last.y;
    })) << "the pointer ended at " << ::testing::PrintToString(screen.pointerEvents().back()) << ", not " << last;
    EXPECT_EQ(clicks(screen.pointerEvents()), clicks(model.expected()));
    EXPECT_TRUE(bluez->running()) << bluez->diagnostics();
}

} // namespace
} // namespace zt::test
