// How the real main queue and X11 pointer keep the moves of a watch that
// writes at a steady rate: how late each move runs after its due time, how
// often the main thread wakes per move, and the CPU it takes. The writes
// reach the Watch straight from a timer on the same event loop, standing in
// for the bus (one wake-up per write, as a bus message makes). With --burst
// it also hands over that many writes at once and reports how long a Qt
// timer and an event posted from another thread (as Qt's bus thread posts
// each call) wait while the backlog runs.
// In-process and on a private Xvfb; the road as the user runs it is
// measured from outside with the real binary.

#include "backends/qt/QtMainQueue.h"
#include "backends/x11/X11PointerEvents.h"
#include "link/Watch.h"
#include "link/testing/ScriptedPeripheralManager.h"
#include "support/XvfbServer.h"

#include <QCoreApplication>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace zt {
namespace {

using namespace std::chrono_literals;
using Micros = std::chrono::duration<double, std::micro>;

// The real queue, noting how late each work item runs after its deadline.
class LatenessQueue final : public MainQueue {
public:
    MonoTime now() const override { return queue_.now(); }
    void asyncAfter(MonoTime deadline, std::function<void()> work) override
    {
        queue_.asyncAfter(deadline, [this, deadline, work = std::move(work)] {
            lateness.push_back(Micros(queue_.now() - deadline).count());
            work();
            if (lateness.size() == quitAfter)
                QCoreApplication::quit();
        });
    }
    std::shared_ptr<Timer> scheduledTimer(std::chrono::duration<double> interval, std::function<void()> block) override
    {
        return queue_.scheduledTimer(interval, std::move(block));
    }

    std::vector<double> lateness;
    // The event loop ends once this many items have run.
    std::size_t quitAfter = 0;

private:
    QtMainQueue queue_;
};

long mainThreadSleeps()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw;
}

// The real pointer, noting how often the main thread slept waiting for the
// X server inside it.
class SleepCountingPointer final : public PointerEvents {
public:
    explicit SleepCountingPointer(const std::string& display) : pointer_(display) {}
    std::optional<Point> currentLocation() override
    {
        const long before = mainThreadSleeps();
        auto location = pointer_.currentLocation();
        sleeps += mainThreadSleeps() - before;
        return location;
    }
    bool postMouseEvent(MouseEventType type, Point location) override
    {
        const long before = mainThreadSleeps();
        const bool posted = pointer_.postMouseEvent(type, location);
        sleeps += mainThreadSleeps() - before;
        return posted;
    }

    long sleeps = 0;

private:
    X11PointerEvents pointer_;
};

class BenchPlatform final : public Platform {
public:
    explicit BenchPlatform(const std::string& display) : pointer(display) {}
    MainQueue& mainQueue() override { return queue; }
    PointerEvents& pointerEvents() override { return pointer; }
    std::unique_ptr<PeripheralManager> makePeripheralManager(PeripheralManagerDelegate& delegate) override
    {
        auto made = std::make_unique<testing::ScriptedPeripheralManager>(delegate);
        manager = made.get();
        return made;
    }

    LatenessQueue queue;
    SleepCountingPointer pointer;
    testing::ScriptedPeripheralManager* manager = nullptr;
};

// One write of `frames` frames; turns one way, then back, so the pointer
// stays in the middle of the screen.
ATTRequest write(int i, int frames)
{
    Update update;
    if (i == 0) {
        update.mutable_mouseinfo()->set_sensitivity(0.1f);
        update.mutable_mouseinfo()->set_cursoractive(ZimtorvaInfo::ACTIVE);
    }
    const float turn = i % 2 == 0 ? 1.0f : -1.0f;
    for (int f = 0; f < frames; ++f) {
        SensorFrame* frame = update.add_sensorframes();
        frame->mutable_gyro()->set_y(0.5f * turn);
        frame->mutable_gyro()->set_z(turn);
        frame->mutable_grav()->set_z(9.81f);
    }
    const std::string bytes = update.SerializeAsString();
    static const Uuid characteristic = *Uuid::fromString("613805b1-8dd4-4268-98ae-a6e72bf454ab");
    return {.id = static_cast<std::uint64_t>(i) + 1, .central = {"watch"}, .characteristic = characteristic,
            .value = Bytes(bytes.begin(), bytes.end())};
}

void printPercentiles(const char* what, std::vector<double> samples)
{
    if (samples.empty())
        return;
    std::sort(samples.begin(), samples.end());
    const auto rank = [&](double p) {
        const auto index = static_cast<std::size_t>(std::ceil(p * static_cast<double>(samples.size()))) - 1;
        return samples[std::min(index, samples.size() - 1)];
    };
    std::printf("%-40s n=%-7zu min %8.1f  p50 %8.1f  p99 %8.1f  max %8.1f us\n", what, samples.size(), samples.front(),
                rank(0.5), rank(0.99), samples.back());
}

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](timeval t) { return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec); };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

int run(int updates, int frames, int rate, int burst)
{
    test::XvfbServer xvfb;
    BenchPlatform platform(xvfb.displayName());
    // The link's own lines would only interleave with the figures.
    std::ostringstream linkOutput;
    std::streambuf* const savedCout = std::cout.rdbuf(linkOutput.rdbuf());
    std::shared_ptr<Watch> watch = Watch::create(platform);
    QObject context;

    // Steady writes.
    const auto expected = static_cast<std::size_t>(updates) * static_cast<std::size_t>(frames);
    int sent = 0;
    QTimer writer;
    writer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&writer, &QTimer::timeout, &context, [&] {
        platform.manager->deliverWrite({write(sent++, frames)});
        if (sent == updates)
            writer.stop();
    });
    const double cpuBefore = processCpuSeconds();
    const long sleepsBefore = mainThreadSleeps();
    const auto started = std::chrono::steady_clock::now();
    platform.queue.quitAfter = expected;
    writer.start(1000 / rate);
    QCoreApplication::exec();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double cpu = processCpuSeconds() - cpuBefore;
    const long sleeps = mainThreadSleeps() - sleepsBefore;
    const double moves = static_cast<double>(platform.queue.lateness.size());

    std::printf("%d writes of %d frames at %d/s on Xvfb %s\n", updates, frames, rate, xvfb.displayName().c_str());
    printPercentiles("lateness of a move after its due time", platform.queue.lateness);
    // A sleep of the main thread is a voluntary context switch: the event
    // loop waiting for its next event, or the pointer for the X server.
    std::printf("%-40s %.2f in the event loop, %.2f waiting for X replies\n", "main-thread wake-ups per move",
                static_cast<double>(sleeps - platform.pointer.sleeps) / moves,
                static_cast<double>(platform.pointer.sleeps) / moves);
    std::printf("%-40s %.2f %% of a core\n", "CPU of this process", 100.0 * cpu / wall);

    if (burst > 0) {
        // A probe that should fire every millisecond: how late it comes is
        // how long the loop was held by one dispatch round.
        std::vector<double> probeLateness;
        auto due = std::chrono::steady_clock::now();
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        QObject::connect(&probe, &QTimer::timeout, &context, [&] {
            const auto now = std::chrono::steady_clock::now();
            probeLateness.push_back(Micros(now - due).count());
            due = now + 1ms;
        });
        platform.queue.lateness.clear();
        std::vector<ATTRequest> writes;
        for (int i = 0; i < burst; ++i)
            writes.push_back(write(i + 1, 4));
        platform.manager->deliverWrite(writes);
        const auto handed = std::chrono::steady_clock::now();
        // And a thread that posts to the main thread every millisecond, as
        // Qt's bus thread does with each incoming call: how long until it runs.
        std::vector<double> postedWait;
        std::atomic<bool> stopPosting = false;
        std::thread poster([&] {
            while (!stopPosting) {
                const auto posted = std::chrono::steady_clock::now();
                QMetaObject::invokeMethod(
                    &context, [&, posted] { postedWait.push_back(Micros(std::chrono::steady_clock::now() - posted).count()); },
                    Qt::QueuedConnection);
                std::this_thread::sleep_for(1ms);
            }
        });
        due = handed + 1ms;
        probe.start(1);
        platform.queue.quitAfter = static_cast<std::size_t>(burst) * 4;
        QCoreApplication::exec();
        std::printf("%d writes of 4 frames at once: every move ran %.0f ms after the hand-over\n", burst,
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - handed).count());
        stopPosting = true;
        poster.join();
        QCoreApplication::processEvents();
        printPercentiles("a Qt timer due every 1 ms: lateness", probeLateness);
        printPercentiles("an event posted from another thread: wait", postedWait);
    }
    watch.reset();
    std::cout.rdbuf(savedCout);
    return 0;
}

} // namespace
} // namespace zt

int main(int argc, char** argv)
{
    unsetenv("DISPLAY");
    int updates = 100;
    int frames = 10;
    int rate = 10;
    int burst = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        int* target = std::strcmp(argv[i], "--updates") == 0 ? &updates
                      : std::strcmp(argv[i], "--frames") == 0 ? &frames
                      : std::strcmp(argv[i], "--rate") == 0   ? &rate
                      : std::strcmp(argv[i], "--burst") == 0  ? &burst
                                                              : nullptr;
        if (!target) {
            std::fprintf(stderr, "usage: %s [--updates N] [--frames F] [--rate R per second] [--burst W]\n", argv[0]);
            return 2;
        }
        *target = std::atoi(argv[i + 1]);
    }
    if (updates < 1 || frames < 1 || rate < 1 || rate > 1000 || burst < 0)
        return 2;
    QCoreApplication app(argc, argv);
    try {
        return zt::run(updates, frames, rate, burst);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zt-move-timing: %s\n", e.what());
        return 1;
    }
}
