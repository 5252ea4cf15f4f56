// How long the road of an Update takes on the real backends: from the
// daemon double sending WriteValue on a private bus to the link handing its
// first pointer event to the X11 pointer under Xvfb, and how evenly the ten
// moves of one Update follow each other.
//
//   zt-road-latency [--writes N] [--spacing-updates M]
//
// Prints the figures; exits non-zero when the road breaks on the way.

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
#include <sstream>
#include <string>
#include <vector>

namespace zt::test {
namespace {

using Clock = std::chrono::steady_clock;
using Micros = std::chrono::duration<double, std::micro>;

constexpr Triple alongZ{0, 0, 9.81f};

struct Figures {
    double median = 0;
    double p99 = 0;
    double max = 0;
};

// Nearest-rank percentiles.
Figures figuresOf(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    const auto rank = [&](double p) {
        const auto n = static_cast<double>(samples.size());
        const auto index = static_cast<std::size_t>(std::ceil(p * n)) - 1;
        return samples[std::min(index, samples.size() - 1)];
    };
    return {rank(0.5), rank(0.99), samples.back()};
}

void print(const char* what, const std::vector<double>& samples)
{
    const Figures f = figuresOf(samples);
    std::printf("%-44s n=%-6zu median %8.1f us   p99 %8.1f us   max %8.1f us\n", what, samples.size(), f.median,
                f.p99, f.max);
}

int fail(const std::string& why)
{
    std::fprintf(stderr, "zt-road-latency: %s\n", why.c_str());
    return 1;
}

int run(int writes, int spacingUpdates)
{
    PrivateBus bus;
    XvfbServer xvfb;
    const QString address = QString::fromStdString(bus.address());
    FakeBluez fake(address);
    if (!fake.start())
        return fail("the daemon double cannot take org.bluez");
    TestPlatform platform(xvfb.displayName(), address);

    // The link's own lines would only interleave with the figures.
    std::ostringstream linkOutput;
    std::streambuf* const savedStdout = std::cout.rdbuf(linkOutput.rdbuf());
    struct Restore {
        std::streambuf* saved;
        ~Restore() { std::cout.rdbuf(saved); }
    } restore{savedStdout};

    std::shared_ptr<Watch> watch = Watch::create(platform);
    if (!waitUntil([&] { return fake.applications().size() == 1 && fake.advertisements().size() == 1; }))
        return fail("the link never registered with the daemon double");

    // Turns one way, then back, so the pointer stays in the middle of the
    // screen however many writes there are.
    const auto update = [](int i, int frames) {
        UpdateBuilder b;
        if (i == 0)
            b.settings(0.1f, 0, ZimtorvaInfo::ACTIVE);
        const float turn = i % 2 == 0 ? 1.0f : -1.0f;
        for (int f = 0; f < frames; ++f)
            b.frame({0, 0.5f * turn, turn}, alongZ);
        return b.bytes();
    };

    const auto& posts = platform.pointer().posts();
    std::vector<double> toCall;
    std::vector<double> toServer;
    for (int i = 0; i < writes; ++i) {
        const QByteArray value = update(i, 1);
        const std::size_t before = posts.size();
        const Clock::time_point sent = Clock::now();
        if (!fake.writeValue(value, FakeBluez::requestOptions()))
            return fail("WriteValue could not be sent");
        if (!waitUntil([&] { return posts.size() > before; }))
            return fail("no pointer event for write " + std::to_string(i));
        toCall.push_back(Micros(posts[before].called - sent).count());
        toServer.push_back(Micros(posts[before].returned - sent).count());
    }

    std::vector<double> gaps;
    for (int i = 0; i < spacingUpdates; ++i) {
        const QByteArray value = update(i, 10);
        const std::size_t before = posts.size();
        if (!fake.writeValue(value, FakeBluez::requestOptions()))
            return fail("WriteValue could not be sent");
        if (!waitUntil([&] { return posts.size() >= before + 10; }))
            return fail("the ten moves of an Update did not all come");
        for (std::size_t k = before + 1; k < before + 10; ++k)
            gaps.push_back(Micros(posts[k].called - posts[k - 1].called).count());
    }

    std::printf("Road of one Update over a private bus to Xvfb %s\n", xvfb.displayName().c_str());
    print("WriteValue sent -> first postMouseEvent", toCall);
    print("WriteValue sent -> first event through X", toServer);
    if (!gaps.empty())
        print("gap between the moves of a 10-frame Update", gaps);
    watch.reset();
    return 0;
}

int count(const char* text)
{
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    return end && *end == '\0' && n >= 0 && n <= 1000000 ? static_cast<int>(n) : -1;
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
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--writes") == 0 && hasValue) {
            writes = zt::test::count(argv[++i]);
        } else if (std::strcmp(argv[i], "--spacing-updates") == 0 && hasValue) {
            spacingUpdates = zt::test::count(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--writes N] [--spacing-updates M]\n", argv[0]);
            return 2;
        }
    }
    if (writes < 1 || spacingUpdates < 0) {
        std::fprintf(stderr, "%s: --writes needs at least 1, --spacing-updates at least 0\n", argv[0]);
        return 2;
    }

    QCoreApplication app(argc, argv);
    try {
        return zt::test::run(writes, spacingUpdates);
    } catch (const std::exception& e) {
        return zt::test::fail(e.what());
    }
}
