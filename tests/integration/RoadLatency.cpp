// How long the road of an Update takes on the real backends, from the daemon
// double sending WriteValue on a private bus to the link handing its first
// pointer event to the X11 pointer under Xvfb, and how evenly the ten moves
// of one Update follow each other. Exits non-zero when the road breaks.

#include "fakebluez/FakeBluez.h"
#include "integration/TestPlatform.h"
#include "integration/UpdateBuilder.h"
#include "integration/WaitUntil.h"
#include "link/Watch.h"
#include "support/PrivateBus.h"
#include "support/XvfbServer.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <sstream>
#include <string>
#include <vector>

namespace zt::test {
namespace {

using Clock = std::chrono::steady_clock;
using Micros = std::chrono::duration<double, std::micro>;

constexpr Triple alongZ{0, 0, 9.81f};

// Nearest-rank percentiles.
void print(const char* what, std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    const auto rank = [&](double p) {
        const auto index = static_cast<std::size_t>(std::ceil(p * static_cast<double>(samples.size()))) - 1;
        return samples[std::min(index, samples.size() - 1)];
    };
    std::printf("%-44s n=%-6zu median %8.1f us   p99 %8.1f us   max %8.1f us\n", what, samples.size(), rank(0.5),
                rank(0.99), samples.back());
}

int run(int writes, int spacingUpdates)
{
    PrivateBus bus;
    XvfbServer xvfb;
    const QString address = QString::fromStdString(bus.address());
    FakeBluez fake(address);
    if (!fake.start())
        throw std::runtime_error("the daemon double cannot take org.bluez");
    TestPlatform platform(xvfb.displayName(), address);

    // The link's own lines would only interleave with the figures.
    std::ostringstream linkOutput;
    const std::unique_ptr<std::streambuf, void (*)(std::streambuf*)> restore(
        std::cout.rdbuf(linkOutput.rdbuf()), [](std::streambuf* saved) { std::cout.rdbuf(saved); });

    std::shared_ptr<Watch> watch = Watch::create(platform);
    if (!waitUntil([&] { return fake.applications().size() == 1 && fake.advertisements().size() == 1; }))
        throw std::runtime_error("the link never registered with the daemon double");

    // Turns one way, then back, so the pointer stays in the middle of the
    // screen however many writes there are.
    const auto update = [](int i, int frames) {
        UpdateBuilder b;
        if (i == 0)
            b.settings(0.1f, 0, ZimtorvaInfo::ACTIVE);
        const float turn = i % 2 == 0 ? 1.0f : -1.0f;
        return b.frame({0, 0.5f * turn, turn}, alongZ, frames).bytes();
    };

    const auto& posts = platform.pointer().posts();
    // Sends write `i` and waits for its `moves` pointer events; the index of the first.
    const auto send = [&](int i, std::size_t moves) {
        const std::size_t first = posts.size();
        if (!fake.writeValue(update(i, static_cast<int>(moves)), FakeBluez::requestOptions()) ||
            !waitUntil([&] { return posts.size() >= first + moves; }))
            throw std::runtime_error("write " + std::to_string(i) + " did not move the pointer");
        return first;
    };
    std::vector<double> toCall;
    for (int i = 0; i < writes; ++i) {
        const Clock::time_point sent = Clock::now();
        const std::size_t first = send(i, 1);
        toCall.push_back(Micros(posts[first].called - sent).count());
    }
    std::vector<double> gaps;
    for (int i = 0; i < spacingUpdates; ++i)
        for (std::size_t k = send(i, 10) + 1; k < posts.size(); ++k)
            gaps.push_back(Micros(posts[k].called - posts[k - 1].called).count());

    std::printf("Road of one Update over a private bus to Xvfb %s\n", xvfb.displayName().c_str());
    print("WriteValue sent -> first postMouseEvent", toCall);
    if (!gaps.empty())
        print("gap between the moves of a 10-frame Update", gaps);
    watch.reset();
    return 0;
}

} // namespace
} // namespace zt::test

int main(int argc, char** argv)
{
    // Private buses and display only; nothing of the machine's own.
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/zt-tests-no-system-bus", 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/zt-tests-no-session-bus", 1);
    unsetenv("DISPLAY");

    int writes = 1000;
    int spacingUpdates = 200;
    for (int i = 1; i < argc; i += 2) {
        const bool known = i + 1 < argc && (std::strcmp(argv[i], "--writes") == 0 ||
                                            std::strcmp(argv[i], "--spacing-updates") == 0);
        (std::strcmp(argv[i], "--writes") == 0 ? writes : spacingUpdates) = known ? std::atoi(argv[i + 1]) : -1;
    }
    if (writes < 1 || spacingUpdates < 0) {
        std::fprintf(stderr, "usage: %s [--writes N>=1] [--spacing-updates M>=0]\n", argv[0]);
        return 2;
    }

    QCoreApplication app(argc, argv);
    try {
        return zt::test::run(writes, spacingUpdates);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zt-road-latency: %s\n", e.what());
        return 1;
    }
}
