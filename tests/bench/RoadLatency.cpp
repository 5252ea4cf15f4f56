// zt-road-latency: the built application measured from outside, as a watch
// and a desktop meet it. The daemon double in this process writes to it
// over a private system bus, an X client on the same Xvfb notices the
// pointer move, a tray host on a private session bus asks for its menu, and
// /proc tells what it costs. Prints every figure in one run; exits non-zero
// only when the road breaks (the application does not come up, a write
// never moves the pointer, a call is answered with an error, the link dies).
// `zt-road-latency --help` lists the sections and their sizes.

#include "bench/BenchRig.h"
#include "bench/FloorMover.h"
#include "bench/Probes.h"
#include "bench/ProcessStats.h"
#include "integration/UpdateBuilder.h"
#include "integration/WaitUntil.h"

#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace zt::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr Triple alongZ{0, 0, 9.81f};
// Where each section puts the pointer first, mid-screen.
constexpr int startX = 640;
constexpr int startY = 400;
// A write's frames are due this far apart.
constexpr auto frameSpacing = 10ms;
// Reads waiting longer than this stop the ramp.
constexpr double readLimitMs = 100;

const char* const sectionNames[] = {"latency", "watch", "burst", "ramp", "steady", "flood"};

// Every size a run takes, its default and what it means.
struct Size {
    const char* name;
    double value;
    const char* meaning;
};
const Size sizeDefaults[] = {
    {"samples", 1000, "latency: writes of one frame, and as many floor motions"},
    {"gap-ms", 20, "latency: pause after each sample"},
    {"floor-updates", 100, "watch: floor runs of 10 XTest moves 10 ms apart"},
    {"idle-seconds", 5, "watch: the application idle, for comparison"},
    {"watch-seconds", 20, "watch: 10 Updates of 10 frames a second"},
    {"burst-writes", 5000, "burst: writes arriving at once"},
    {"burst-frames", 4, "burst: frames a write"},
    {"probe-ms", 10, "burst, ramp, steady: one read and one tray call this often"},
    {"ramp-step-seconds", 3, "ramp: each rate this long"},
    {"ramp-start", 100, "ramp: first rate, writes/s; each next is 1.5 times higher"},
    {"ramp-max", 50000, "ramp: highest rate"},
    {"steady-rate", 3000, "steady: writes/s"},
    {"steady-frames", 10, "steady: frames a write"},
    {"steady-seconds", 60, "steady: how long"},
    {"flood-writes", 1000000, "flood: writes as fast as the double can send"},
    {"flood-frames", 10, "flood: frames a write"},
    {"drain-seconds", 120, "longest wait for the pointer to go idle, or the link to answer"},
    {"idle-ms", 1000, "no motion for this long after the last write: the pointer is idle"},
    {"settle-seconds", 2, "steady, flood: RSS once more this long after idle"},
};

struct Options {
    std::string application = ZT_APPLICATION_PATH;
    std::set<std::string> sections{std::begin(sectionNames), std::end(sectionNames)};
    std::map<std::string, double> sizes;
    Options()
    {
        for (const Size& size : sizeDefaults)
            sizes[size.name] = size.value;
    }
    double operator[](const std::string& name) const { return sizes.at(name); }
};

// The untimed pass CTest makes: every section, a few seconds in all.
const std::map<std::string, double> smokeSizes{
    {"samples", 5},          {"floor-updates", 2},    {"idle-seconds", 0.2},  {"watch-seconds", 0.5},
    {"burst-writes", 50},    {"ramp-step-seconds", 0.2}, {"ramp-max", 150},   {"steady-rate", 200},
    {"steady-seconds", 0.5}, {"flood-writes", 2000}, {"drain-seconds", 30}, {"idle-ms", 300},
    {"settle-seconds", 0.2}};

// What went wrong on the road; any of it makes the exit status 1.
std::vector<std::string> breaks;
// The headline figures, printed again together at the end.
std::vector<std::string> headlines;

[[gnu::format(printf, 1, 2)]] std::string text(const char* format, ...)
{
    char buffer[400];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    return buffer;
}

void broke(const std::string& what)
{
    std::printf("  ROAD BROKEN: %s\n", what.c_str());
    std::fflush(stdout);
    breaks.push_back(what);
}

void stalled(std::size_t sent)
{
    broke("after " + std::to_string(sent) +
          " writes the system bus took no more for 30 s: the application has stopped reading them");
}

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }
double us(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }
Clock::duration seconds(double s) { return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s)); }

// Nearest rank; NaN for no samples.
double percentile(std::vector<double> samples, double p)
{
    if (samples.empty())
        return NAN;
    std::sort(samples.begin(), samples.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(samples.size())));
    return samples[std::clamp<std::size_t>(rank, 1, samples.size()) - 1];
}

// "n=.. p50 .. p99 .. max .." in `unit`.
std::string spread(const std::vector<double>& samples, const char* unit)
{
    char text[160];
    std::snprintf(text, sizeof text, "n=%-6zu p50 %8.2f  p99 %8.2f  max %8.2f  min %8.2f %s", samples.size(),
                  percentile(samples, 0.5), percentile(samples, 0.99), percentile(samples, 1.0),
                  percentile(samples, 0.0), unit);
    return text;
}

std::string megabytes(std::uint64_t kb)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(kb) / 1024.0);
    return text;
}

void heading(const char* text)
{
    std::printf("\n== %s\n", text);
    std::fflush(stdout);
}

// The watch turning one way (turn 1) or back (turn -1): `frames` alike,
// each 3 px sideways and 1.5 px up or down at the sensitivity it sets.
QByteArray updateBytes(int frames, int turn)
{
    const float t = static_cast<float>(turn);
    return UpdateBuilder().settings(0.1f, 0, ZimtorvaInfo::ACTIVE).frame({0, 0.5f * t, t}, alongZ, frames).bytes();
}

std::array<QByteArray, 2> turns(int frames) { return {updateBytes(frames, 1), updateBytes(frames, -1)}; }

// Writes sent, from the instant the first left to that of the last.
struct Paced {
    std::size_t sent = 0;
    bool stalled = false;
    Clock::time_point first;
    Clock::time_point last;
    double seconds() const { return std::chrono::duration<double>(last - first).count(); }
    double rate() const { return sent > 1 ? static_cast<double>(sent - 1) / seconds() : 0; }
};

// Sends writes from the event loop, alternately turning one way and back:
// `rate` a second (0: all at once) until `count` have gone or `duration`
// has passed. Works in slices of at most a millisecond so that answers
// and motion are read meanwhile.
Paced pace(BenchRig& rig, int frames, double rate, std::size_t count, Clock::duration duration)
{
    const std::array<QByteArray, 2> values = turns(frames);
    Paced paced;
    paced.first = Clock::now();
    QTimer tick;
    tick.setSingleShot(true);
    tick.setTimerType(Qt::PreciseTimer);
    bool done = false;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const Clock::time_point now = Clock::now();
        const std::size_t due =
            rate > 0 ? std::min(count, static_cast<std::size_t>(std::chrono::duration<double>(now - paced.first).count() *
                                                                rate) + 1)
                     : count;
        const Clock::time_point sliceEnd = now + 1ms;
        while (paced.sent < due && !paced.stalled && Clock::now() < sliceEnd) {
            const std::optional<Clock::time_point> sent = rig.writer().send(values[paced.sent % 2]);
            paced.stalled = !sent;
            paced.last = sent.value_or(paced.last);
            paced.sent += sent ? 1 : 0;
        }
        done = paced.stalled || paced.sent >= count || (rate > 0 && Clock::now() - paced.first >= duration);
        if (!done)
            tick.start(paced.sent < due ? 0 : 1);
    });
    tick.start(0);
    waitUntil([&] { return done; }, std::chrono::hours(24));
    if (paced.stalled)
        stalled(paced.sent);
    return paced;
}

// Runs the event loop for `duration`.
void pumpFor(Clock::duration duration)
{
    const Clock::time_point end = Clock::now() + duration;
    waitUntil([&] { return Clock::now() >= end; }, std::chrono::ceil<std::chrono::milliseconds>(duration) + 1s);
}

// Runs the event loop until the pointer has not moved for idle-ms since
// `since`; the instant of the last motion, or nothing at `limit`.
std::optional<Clock::time_point> pumpUntilIdle(BenchRig& rig, const Options& o, Clock::time_point since,
                                               Clock::duration limit)
{
    PointerWatch& pointer = rig.pointer();
    const Clock::duration quiet = seconds(o["idle-ms"] / 1000);
    const auto from = [&] { return pointer.last() ? std::max(since, pointer.last()->seen) : since; };
    if (!waitUntil([&] { return Clock::now() - from() >= quiet; },
                   std::chrono::ceil<std::chrono::milliseconds>(limit)))
        return std::nullopt;
    return from();
}

// When the pointer went idle after the last write (its last motion), or
// that it still moved when the wait ended at `gaveUp`.
std::string pointerAfter(std::optional<Clock::time_point> idleAt, Clock::time_point lastWrite,
                         Clock::time_point gaveUp)
{
    return idleAt ? text("idle %.3f s after the last write", ms(*idleAt - lastWrite) / 1000)
                  : text("still moving %.0f s after the last write", ms(gaveUp - lastWrite) / 1000);
}

void printCalls(const char* what, const Probes::Span& calls)
{
    std::printf("  %-34s %s", what, spread(calls.waitsMs, "ms").c_str());
    if (!calls.errors.empty()) {
        std::printf(", failed:");
        for (const auto& [name, count] : calls.errors)
            std::printf(" %s x%d", name.c_str(), count);
        std::printf(" (their waits p50 %.1f ms)", percentile(calls.failedWaitsMs, 0.5));
    }
    std::printf("\n");
}

void printMemory(const ProcessStats& before, const ProcessStats& at, const char* when)
{
    std::printf("  RSS before %s, %s %s, peak (VmHWM) %s\n", megabytes(before.rssKb).c_str(), when,
                megabytes(at.rssKb).c_str(), megabytes(at.peakRssKb).c_str());
}

// Probes that failed between two counts are breaks of the road.
void checkProbes(const Probes& probes, const char* where)
{
    if (probes.failures() > 0)
        broke(std::to_string(probes.failures()) + " calls answered with an error during " + where);
}

// Writes went out and the pointer never moved.
void checkMoved(BenchRig& rig, const char* where)
{
    if (rig.pointer().total() == 0)
        broke(std::string("the pointer never moved during ") + where);
}

// Each section starts from a fresh application, the pointer mid-screen.
// `keep`: whether the pointer watcher keeps every motion it sees.
PointerWatch& startFresh(BenchRig& rig, bool keep)
{
    rig.startApplication();
    rig.pointer().keep(keep);
    rig.pointer().warp(startX, startY);
    return rig.pointer();
}

// ---- issue rows: write to first motion, and its floor ----------------------

void latency(BenchRig& rig, const Options& o)
{
    const int samples = static_cast<int>(o["samples"]);
    const Clock::duration gap = seconds(o["gap-ms"] / 1000);
    heading("write to first pointer motion, and its floor");
    std::printf("  %d writes of one frame (WriteValue no-reply, daemon double -> system bus -> application -> X),\n"
                "  each followed by one motion another X client posts with XTest; both noticed as MotionNotify\n"
                "  by the same X client, alternately, %.0f ms apart\n",
                samples, o["gap-ms"]);
    PointerWatch& pointer = startFresh(rig, true);
    const std::array<QByteArray, 2> values = turns(1);
    std::vector<double> application;
    std::vector<double> floor;
    for (int i = 0; i < samples; ++i) {
        std::size_t seen = pointer.motions().size();
        const std::optional<Clock::time_point> sent = rig.writer().send(values[i % 2]);
        if (!sent) {
            stalled(static_cast<std::size_t>(i));
            break;
        }
        if (!pointer.waitForMotions(seen + 1, *sent + 5s)) {
            broke("write " + std::to_string(i) + " did not move the pointer within 5 s");
            break;
        }
        application.push_back(us(pointer.motions()[seen].seen - *sent));
        pointer.waitForQuiet(Clock::now(), gap, Clock::now() + 5s);

        seen = pointer.motions().size();
        const PointerWatch::Motion at = pointer.motions().back();
        const Clock::time_point posted = Clock::now();
        pointer.post(at.x + (i % 2 == 0 ? 3 : -3), at.y);
        if (!pointer.waitForMotions(seen + 1, posted + 5s)) {
            broke("the X server reported no motion that another client posted");
            break;
        }
        floor.push_back(us(pointer.motions()[seen].seen - posted));
        pointer.waitForQuiet(Clock::now(), gap, Clock::now() + 5s);
        // Whatever else the rig has to do waits for no longer than one sample.
        QCoreApplication::processEvents();
    }
    std::printf("  %-34s %s\n", "application (write -> motion)", spread(application, "us").c_str());
    std::printf("  %-34s %s\n", "floor (XTest client -> motion)", spread(floor, "us").c_str());
    headlines.push_back(text("write to first pointer motion p50 / p99: %.0f / %.0f us; floor %.0f / %.0f us",
             percentile(application, 0.5), percentile(application, 0.99), percentile(floor, 0.5),
             percentile(floor, 0.99)));
}

// ---- issue rows: move timing, CPU and wake-ups at a realistic watch --------

struct Cost {
    double cpuPercent;
    double wakeupsPerSecond;
    double switchesPerSecond;
    std::uint64_t wakeups;
};

Cost cost(const ProcessStats& from, const ProcessStats& to, Clock::duration wall)
{
    const double seconds = std::chrono::duration<double>(wall).count();
    const auto wakeups = to.voluntarySwitches - std::min(from.voluntarySwitches, to.voluntarySwitches);
    const auto preempted = to.involuntarySwitches - std::min(from.involuntarySwitches, to.involuntarySwitches);
    return {100.0 * static_cast<double>(to.cpuTicks - from.cpuTicks) / ProcessStats::ticksPerSecond() / seconds,
            static_cast<double>(wakeups) / seconds, static_cast<double>(wakeups + preempted) / seconds, wakeups};
}

// What the same schedule of moves costs the floor mover (see FloorMover.h),
// from "start" to "end"; nothing when it does not come up.
std::optional<Cost> floorMoverCost(BenchRig& rig, int updates)
{
    ChildProcess mover("floor mover", {QCoreApplication::applicationFilePath().toStdString(), "--floor-mover",
                                       rig.display(), std::to_string(updates)});
    if (mover.waitForLine(0, 10s) != "start")
        return std::nullopt;
    const ProcessStats from = ProcessStats::of(mover.pid());
    const Clock::time_point begin = Clock::now();
    // The watcher keeps reading the motion meanwhile, as during the application's run.
    rig.pointer().readUntil(begin + 100ms * updates + 10s, [&] { return mover.lines().size() >= 2; });
    const ProcessStats to = ProcessStats::of(mover.pid());
    const Clock::time_point end = Clock::now();
    if (mover.lines().size() < 2)
        return std::nullopt;
    mover.send("done");
    return cost(from, to, end - begin);
}

// How late each move of a run of ten came after its due time: 10 ms after
// the one before, counted from the first as the X client saw it.
void addLateness(const std::vector<PointerWatch::Motion>& run, std::vector<double>& lateness)
{
    for (std::size_t i = 1; i < run.size(); ++i)
        lateness.push_back(ms(run[i].seen - run[0].seen - frameSpacing * static_cast<int>(i)));
}

void watch(BenchRig& rig, const Options& o)
{
    const int floorRuns = static_cast<int>(o["floor-updates"]);
    const auto idle = seconds(o["idle-seconds"]);
    const int updates = std::max(1, static_cast<int>(o["watch-seconds"] * 10));
    heading("a realistic watch: move timing, CPU and wake-ups");
    PointerWatch& pointer = startFresh(rig, true);

    // The floor: another X client posting ten moves 10 ms apart on time.
    std::vector<double> floorLateness;
    for (int r = 0; r < floorRuns; ++r) {
        pointer.warp(startX, startY);
        const Clock::time_point begin = Clock::now() + 1ms;
        for (int i = 0; i < 10; ++i) {
            pointer.readUntil(begin + frameSpacing * i);
            pointer.post(startX + 3 * (i + 1), startY);
        }
        if (!pointer.waitForMotions(10, Clock::now() + 5s)) {
            broke("the X server reported fewer motions than another client posted");
            return;
        }
        addLateness(pointer.motions(), floorLateness);
        pointer.readUntil(Clock::now() + 20ms);
    }

    pointer.warp(startX, startY);
    const pid_t pid = rig.applicationPid();
    const ProcessStats idleFrom = ProcessStats::of(pid);
    pointer.readUntil(Clock::now() + idle);
    const Cost idleCost = cost(idleFrom, ProcessStats::of(pid), idle);

    // Ten Updates a second, ten frames each, sent on time from this loop.
    const std::array<QByteArray, 2> values = turns(10);
    std::vector<Clock::time_point> sent;
    const Clock::time_point begin = Clock::now() + 1ms;
    const ProcessStats from = ProcessStats::of(pid);
    for (int k = 0; k < updates; ++k) {
        pointer.readUntil(begin + 100ms * k);
        const std::optional<Clock::time_point> at = rig.writer().send(values[k % 2]);
        if (!at) {
            stalled(sent.size());
            return;
        }
        sent.push_back(*at);
    }
    const Clock::time_point end = begin + 100ms * updates;
    pointer.readUntil(end);
    const ProcessStats to = ProcessStats::of(pid);
    const Clock::duration wall = end - begin;
    const Cost watchCost = cost(from, to, wall);

    // The moves seen between one write and the next are that write's.
    std::vector<double> lateness;
    std::vector<double> firstMove;
    int irregular = 0;
    const std::vector<PointerWatch::Motion>& motions = pointer.motions();
    auto m = motions.begin();
    for (int k = 0; k < updates; ++k) {
        std::vector<PointerWatch::Motion> run;
        for (; m != motions.end() && (k + 1 == updates || m->seen < sent[k + 1]); ++m)
            run.push_back(*m);
        if (run.size() != 10) {
            ++irregular;
            continue;
        }
        firstMove.push_back(us(run[0].seen - sent[k]));
        addLateness(run, lateness);
    }
    std::printf("  lateness of each move after its due time (10 ms after the one before, from the first seen)\n");
    std::printf("  %-34s %s\n", "application", spread(lateness, "ms").c_str());
    std::printf("  %-34s %s\n", "floor (XTest client on time)", spread(floorLateness, "ms").c_str());
    std::printf("  %-34s %s\n", "write -> first move, same run", spread(firstMove, "us").c_str());
    if (motions.empty())
        broke("the pointer never moved at a realistic watch");
    if (irregular > 0)
        std::printf("  %d of %d Updates did not show exactly 10 moves before the next write (left out)\n", irregular,
                    updates);
    const auto moves = static_cast<double>(motions.size());
    std::printf("  %d Updates of 10 frames in %.1f s, %zu moves seen\n", updates,
                std::chrono::duration<double>(wall).count(), motions.size());
    std::printf("  CPU %.2f %% of a core; wake-ups (voluntary switches, all threads) %.0f/s, %.2f per move; "
                "all switches %.0f/s\n",
                watchCost.cpuPercent, watchCost.wakeupsPerSecond,
                moves > 0 ? static_cast<double>(watchCost.wakeups) / moves : NAN, watchCost.switchesPerSecond);
    std::printf("  idle for comparison: CPU %.2f %% of a core, %.0f wake-ups/s (%.1f s, no writes)\n",
                idleCost.cpuPercent, idleCost.wakeupsPerSecond, std::chrono::duration<double>(idle).count());
    // The same moves from a process that does nothing else: what any program
    // pays here for sleeping until each move and reading the pointer once.
    const std::optional<Cost> floor = floorMoverCost(rig, updates);
    if (!floor)
        broke("the floor mover did not run");
    const auto floorMoves = static_cast<double>(updates) * 10;
    const Cost floorCost = floor.value_or(Cost{NAN, NAN, NAN, 0});
    std::printf("  floor (an X client that only sleeps until each move, reads the pointer and posts one motion):\n"
                "    CPU %.2f %% of a core; wake-ups %.0f/s, %.2f per move; all switches %.0f/s\n",
                floorCost.cpuPercent, floorCost.wakeupsPerSecond,
                static_cast<double>(floorCost.wakeups) / floorMoves, floorCost.switchesPerSecond);
    std::printf("  (clock tick %.0f Hz: CPU resolution %.3f %% over this run)\n", ProcessStats::ticksPerSecond(),
                100.0 / ProcessStats::ticksPerSecond() / std::chrono::duration<double>(wall).count());
    headlines.push_back(text("lateness of each scheduled move p50 / p99 / min: %.2f / %.2f / %.2f ms; floor %.2f / %.2f / %.2f ms",
             percentile(lateness, 0.5), percentile(lateness, 0.99), percentile(lateness, 0),
             percentile(floorLateness, 0.5), percentile(floorLateness, 0.99), percentile(floorLateness, 0)));
    headlines.push_back(text("realistic watch (10 Updates x 10 frames a second): CPU %.2f %% of a core, %.0f wake-ups/s, %.2f per move; "
             "floor %.2f %%, %.2f per move",
             watchCost.cpuPercent, watchCost.wakeupsPerSecond,
             moves > 0 ? static_cast<double>(watchCost.wakeups) / moves : NAN, floorCost.cpuPercent,
             static_cast<double>(floorCost.wakeups) / floorMoves));
}

// ---- issue rows: a burst arriving at once ----------------------------------

void burst(BenchRig& rig, const Options& o)
{
    const auto writes = static_cast<std::size_t>(o["burst-writes"]);
    const int frames = static_cast<int>(o["burst-frames"]);
    const auto drain = seconds(o["drain-seconds"]);
    heading("a burst of writes arriving at once");
    PointerWatch& pointer = startFresh(rig, false);
    const ProcessStats before = ProcessStats::of(rig.applicationPid());
    Probes probes(rig, std::chrono::milliseconds(static_cast<int>(o["probe-ms"])));
    probes.start();
    const Clock::time_point quietFrom = Clock::now();
    pumpFor(300ms);

    const Paced paced = pace(rig, frames, 0, writes, Clock::duration::max());
    const std::optional<Clock::time_point> idleAt = pumpUntilIdle(rig, o, paced.last, drain);
    const Clock::time_point after = Clock::now();
    pumpFor(200ms);
    probes.stop();
    const bool settled = probes.settle(30s);
    const ProcessStats at = ProcessStats::of(rig.applicationPid());

    std::printf("  %zu writes of %d frames sent in %.1f ms; probes every %.0f ms\n", paced.sent, frames,
                ms(paced.last - paced.first), o["probe-ms"]);
    const Probes::Span reads = Probes::span(probes.reads(), paced.first, after);
    const Probes::Span menus = Probes::span(probes.menus(), paced.first, after);
    printCalls("ReadValue, before the burst", Probes::span(probes.reads(), quietFrom, paced.first));
    printCalls("ReadValue, burst until idle", reads);
    printCalls("tray GetLayout, before the burst", Probes::span(probes.menus(), quietFrom, paced.first));
    printCalls("tray GetLayout, burst until idle", menus);
    std::vector<double> all = reads.waitsMs;
    all.insert(all.end(), menus.waitsMs.begin(), menus.waitsMs.end());
    std::printf("  event loop blocked, seen from outside: longest wait of any call %.1f ms\n", percentile(all, 1.0));
    const std::string idle = pointerAfter(idleAt, paced.last, after);
    std::printf("  after the burst: pointer %s\n", idle.c_str());
    std::printf("  moves seen %zu of %zu scheduled\n", pointer.total(), writes * static_cast<std::size_t>(frames));
    printMemory(before, at, "at idle");
    headlines.push_back(text("burst of %zu writes of %d frames: longest call wait %.1f ms (ReadValue p99 %.1f, tray p99 %.1f); "
             "pointer %s; moves seen %zu of %zu",
             paced.sent, frames, percentile(all, 1.0), percentile(reads.waitsMs, 0.99),
             percentile(menus.waitsMs, 0.99), idle.c_str(), pointer.total(), writes * static_cast<std::size_t>(frames)));
    if (!settled)
        broke(std::to_string(probes.openCalls()) + " calls unanswered 30 s after the burst");
    checkProbes(probes, "the burst");
    checkMoved(rig, "the burst");
}

// ---- overload: sustained rate, steady overload, flood ----------------------

// One rate of the ramp; false when reads waited too long or the
// application did not catch up.
bool rampStep(BenchRig& rig, Probes& probes, int frames, double rate, const Options& o, double& best)
{
    const auto step = seconds(o["ramp-step-seconds"]);
    const auto drain = seconds(o["drain-seconds"]);
    const Paced paced = pace(rig, frames, rate, std::numeric_limits<std::size_t>::max(), step);
    const std::optional<Clock::time_point> idleAt = pumpUntilIdle(rig, o, paced.last, drain);
    const bool answered = probes.settle(std::chrono::ceil<std::chrono::milliseconds>(drain));
    const std::vector<double> reads = Probes::span(probes.reads(), paced.first, paced.last).waitsMs;
    const std::vector<double> menus = Probes::span(probes.menus(), paced.first, paced.last).waitsMs;
    const Clock::time_point lastDue = paced.last + frameSpacing * (frames - 1);
    const ProcessStats stats = ProcessStats::of(rig.applicationPid());
    const double p99 = percentile(reads, 0.99);
    std::printf("  %7.0f %9.0f   %8.2f %8.2f %8.2f   %8.2f %8.2f   %9s   %s\n", rate, paced.rate(),
                percentile(reads, 0.5), p99, percentile(reads, 1.0), percentile(menus, 0.99),
                percentile(menus, 1.0), idleAt ? std::to_string(static_cast<int>(ms(*idleAt - lastDue))).c_str() : "busy",
                megabytes(stats.rssKb).c_str());
    std::fflush(stdout);
    const bool ok = idleAt && answered && probes.failures() == 0 && p99 <= readLimitMs;
    if (ok)
        best = rate;
    return ok;
}

void ramp(BenchRig& rig, const Options& o)
{
    heading("sustained writes/s before reads wait more than 100 ms (read p99 during each step)");
    std::printf("  each rate %.1f s, then until the pointer is idle; lag = last motion after the last frame's due time\n",
                o["ramp-step-seconds"]);
    for (const int frames : {4, 30}) {
        std::printf("  -- %d-frame writes\n", frames);
        std::printf("  %7s %9s   %8s %8s %8s   %8s %8s   %9s   %s\n", "rate/s", "achieved", "read p50", "p99", "max",
                    "tray p99", "max", "lag ms", "RSS");
        startFresh(rig, false);
        Probes probes(rig, std::chrono::milliseconds(static_cast<int>(o["probe-ms"])));
        probes.start();
        double best = 0;
        for (double rate = o["ramp-start"]; rate <= o["ramp-max"]; rate = std::round(rate * 1.5))
            if (!rampStep(rig, probes, frames, rate, o, best))
                break;
        probes.stop();
        probes.settle(5s);
        const char* top = best >= o["ramp-max"] ? " (the ramp's top)" : "";
        std::printf("  sustained with %d-frame writes: %.0f writes/s%s\n", frames, best, top);
        headlines.push_back(text("sustained %d-frame writes before reads wait more than 100 ms: %.0f writes/s%s", frames, best, top));
        checkProbes(probes, "the ramp");
        checkMoved(rig, "the ramp");
    }
}

void steady(BenchRig& rig, const Options& o)
{
    const double rate = o["steady-rate"];
    const int frames = static_cast<int>(o["steady-frames"]);
    const auto duration = seconds(o["steady-seconds"]);
    const auto drain = seconds(o["drain-seconds"]);
    heading("steady overload");
    startFresh(rig, false);
    const ProcessStats before = ProcessStats::of(rig.applicationPid());
    Probes probes(rig, std::chrono::milliseconds(static_cast<int>(o["probe-ms"])));
    probes.start();
    const Paced paced = pace(rig, frames, rate, std::numeric_limits<std::size_t>::max(), duration);
    const ProcessStats atEnd = ProcessStats::of(rig.applicationPid());
    const std::optional<Clock::time_point> idleAt = pumpUntilIdle(rig, o, paced.last, drain);
    const Clock::time_point gaveUp = Clock::now();
    probes.stop();
    const bool answered = probes.settle(30s);
    const Probes::Span reads = Probes::span(probes.reads(), paced.first, paced.last);
    const Probes::Span menus = Probes::span(probes.menus(), paced.first, paced.last);
    const ProcessStats atIdle = ProcessStats::of(rig.applicationPid());
    pumpFor(seconds(o["settle-seconds"]));
    const ProcessStats later = ProcessStats::of(rig.applicationPid());

    std::printf("  %zu writes of %d frames at %.0f/s asked, %.0f/s sent, over %.1f s\n", paced.sent, frames, rate,
                paced.rate(), paced.seconds());
    printCalls("ReadValue during the run", reads);
    printCalls("tray GetLayout during the run", menus);
    const Clock::time_point lastDue = paced.last + frameSpacing * (frames - 1);
    const std::string lag = idleAt ? text("%.1f ms", ms(*idleAt - lastDue))
                                   : text("still moving after %.0f s", ms(gaveUp - lastDue) / 1000);
    std::printf("  pointer lag behind the last write (last motion after the last frame's due time): %s\n", lag.c_str());
    std::printf("  RSS before %s, at the end of the writes %s, peak (VmHWM) %s, at idle %s, %.1f s later %s\n",
                megabytes(before.rssKb).c_str(), megabytes(atEnd.rssKb).c_str(), megabytes(later.peakRssKb).c_str(),
                megabytes(atIdle.rssKb).c_str(), o["settle-seconds"], megabytes(later.rssKb).c_str());
    headlines.push_back(text("%.0f writes/s of %d frames for %.1f s (%.0f/s sent): ReadValue p99 %.1f ms, max %.1f ms, "
             "%zu of %zu failed; pointer lag %s; RSS before %s, peak %s, after %s",
             rate, frames, paced.seconds(), paced.rate(), percentile(reads.waitsMs, 0.99), percentile(reads.waitsMs, 1.0),
             reads.failedWaitsMs.size(), reads.waitsMs.size(), lag.c_str(), megabytes(before.rssKb).c_str(), megabytes(later.peakRssKb).c_str(),
             megabytes(later.rssKb).c_str()));
    if (!answered)
        broke(std::to_string(probes.openCalls()) + " calls unanswered 30 s after the steady overload");
    checkProbes(probes, "the steady overload");
    checkMoved(rig, "the steady overload");
}

void flood(BenchRig& rig, const Options& o)
{
    const auto writes = static_cast<std::size_t>(o["flood-writes"]);
    const int frames = static_cast<int>(o["flood-frames"]);
    const auto drain = seconds(o["drain-seconds"]);
    heading("a flood at the fastest rate the daemon double can send");
    startFresh(rig, false);
    const ProcessStats before = ProcessStats::of(rig.applicationPid());
    const Paced paced = pace(rig, frames, 0, writes, Clock::duration::max());
    std::printf("  %zu writes of %d frames sent in %.1f s (%.0f/s)\n", paced.sent, frames, paced.seconds(),
                paced.rate());
    std::fflush(stdout);

    // Is the link still there: one read, then another each second until one is answered.
    Probes probes(rig, 1000ms);
    probes.read();
    probes.start();
    const auto answered = [&] {
        return std::ranges::any_of(probes.reads().calls,
                                   [](const Probes::Call& c) { return c.answered && c.error.empty(); });
    };
    const bool alive = waitUntil(answered, std::chrono::ceil<std::chrono::milliseconds>(drain));
    probes.stop();
    const Clock::time_point aliveAt = Clock::now();
    const ProcessStats atAnswer = ProcessStats::of(rig.applicationPid());
    const std::optional<Clock::time_point> idleAt =
        pumpUntilIdle(rig, o, paced.last, std::max(drain - (aliveAt - paced.last), seconds(2 * o["idle-ms"] / 1000)));
    const ProcessStats at = ProcessStats::of(rig.applicationPid());
    pumpFor(seconds(o["settle-seconds"]));
    const ProcessStats later = ProcessStats::of(rig.applicationPid());

    const std::string link =
        alive ? text("alive: a ReadValue sent after the flood was answered %.3f s after the last write",
                     ms(aliveAt - paced.last) / 1000)
              : text("DEAD: no ReadValue answered within %.0f s after the flood", o["drain-seconds"]);
    const std::string idle = pointerAfter(idleAt, paced.last, Clock::now());
    std::printf("  link %s\n", link.c_str());
    std::printf("  after the flood: pointer %s\n", idle.c_str());
    std::printf("  RSS before %s, at the first answer %s, peak (VmHWM) %s, at idle %s, %.1f s later %s\n",
                megabytes(before.rssKb).c_str(), megabytes(atAnswer.rssKb).c_str(),
                megabytes(later.peakRssKb).c_str(), megabytes(at.rssKb).c_str(), o["settle-seconds"],
                megabytes(later.rssKb).c_str());
    headlines.push_back(text("flood of %zu writes of %d frames at %.0f/s: link %s; pointer %s; RSS before %s, peak %s, "
             "after %s",
             paced.sent, frames, paced.rate(), link.c_str(), idle.c_str(), megabytes(before.rssKb).c_str(),
             megabytes(later.peakRssKb).c_str(), megabytes(later.rssKb).c_str()));
    if (!alive)
        broke("the link did not answer a read after a flood of " + std::to_string(paced.sent) + " writes");
    checkMoved(rig, "the flood");
}

// ---- the rig ---------------------------------------------------------------

// What the application wrote to standard error, each distinct line once
// with how often it came (of the last 64 KiB).
void printApplicationErrors(BenchRig& rig)
{
    std::map<std::string, int> seen;
    std::vector<std::string> order;
    std::istringstream text(rig.application().errors(64 * 1024));
    for (std::string line; std::getline(text, line);)
        if (!line.empty() && seen[line]++ == 0)
            order.push_back(line);
    for (const std::string& line : order)
        std::printf("  application stderr (%dx): %s\n", seen[line], line.c_str());
}

// Both ways a write leaves the daemon double must be flagged as bluetoothd
// flags a write without response; without it the bus counts a pending
// reply for each write and a flood hits the bus's own limit first.
void checkNoReplyFlag(BenchRig& rig)
{
    rig.startApplication();
    const QByteArray value = updateBytes(1, 1);
    const NoReplyCount count = countNoReplyWrites(rig.systemBus(), 2, [&] {
        rig.writer().send(value);
        rig.bluez().writeValue(value, FakeBluez::requestOptions());
    });
    std::printf("WriteValue calls seen on the bus flagged NO_REPLY_EXPECTED: %d of %d "
                "(this tool's sender and FakeBluez::writeValue)\n",
                count.flagged, count.calls);
    if (count.calls != 2 || count.flagged != 2)
        broke("writes without response are not all flagged NO_REPLY_EXPECTED");
}

int run(const Options& o)
{
    BenchRig rig(o.application);
    std::printf("zt-road-latency: %s\n  under Xvfb %s, with its own system bus (daemon double in this process) and\n"
                "  session bus (tray host); pointer motion noticed by an X client; times from CLOCK_MONOTONIC\n",
                o.application.c_str(), rig.display().c_str());
    checkNoReplyFlag(rig);
    const std::vector<std::pair<const char*, void (*)(BenchRig&, const Options&)>> sections{
        {"latency", latency}, {"watch", watch}, {"burst", burst}, {"ramp", ramp}, {"steady", steady}, {"flood", flood}};
    for (const auto& [name, section] : sections)
        if (o.sections.contains(name)) {
            section(rig, o);
            printApplicationErrors(rig);
        }
    rig.stopApplication();
    std::printf("\n== summary\n");
    for (const std::string& line : headlines)
        std::printf("  %s\n", line.c_str());
    std::printf("\n%s\n", breaks.empty() ? "road intact" : "ROAD BROKEN, see above");
    return breaks.empty() ? 0 : 1;
}

void usage()
{
    std::printf("usage: zt-road-latency [--smoke] [--sections a,b,...] [--application PATH] [--<size> N ...]\n"
                "  sections (all by default): latency watch burst ramp steady flood\n"
                "  --smoke: a tiny untimed pass of every section (what CTest runs)\n"
                "  --application: the program to measure (default: the one this build made)\n  sizes:\n");
    for (const Size& size : sizeDefaults)
        std::printf("    --%-18s %-8.10g %s\n", size.name, size.value, size.meaning);
}

} // namespace
} // namespace zt::test

int main(int argc, char** argv)
{
    // Private buses and display only; nothing of the machine's own.
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/zt-tests-no-system-bus", 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/zt-tests-no-session-bus", 1);
    unsetenv("DISPLAY");

    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 3 && args[0] == "--floor-mover")
        return zt::test::runFloorMover(args[1], std::atoi(args[2].c_str()));
    zt::test::Options options;
    if (std::ranges::find(args, "--smoke") != args.end())
        for (const auto& [name, value] : zt::test::smokeSizes)
            options.sizes[name] = value;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--smoke")
            continue;
        if (arg == "--sections" && hasValue) {
            options.sections.clear();
            std::string list = args[++i] + ",";
            for (std::size_t end = list.find(','); end != std::string::npos; end = list.find(',')) {
                options.sections.insert(list.substr(0, end));
                list.erase(0, end + 1);
            }
            options.sections.erase("");
            continue;
        }
        if (arg == "--application" && hasValue) {
            options.application = args[++i];
            continue;
        }
        const auto size = arg.starts_with("--") ? options.sizes.find(arg.substr(2)) : options.sizes.end();
        char* end = nullptr;
        const double value = hasValue ? std::strtod(args[i + 1].c_str(), &end) : NAN;
        if (size == options.sizes.end() || !end || *end != '\0' || !(value >= 0)) {
            zt::test::usage();
            return arg == "--help" ? 0 : 2;
        }
        size->second = value;
        ++i;
    }
    for (const std::string& section : options.sections)
        if (std::ranges::find(zt::test::sectionNames, section) == std::end(zt::test::sectionNames)) {
            std::fprintf(stderr, "zt-road-latency: no section %s\n", section.c_str());
            return 2;
        }

    QCoreApplication app(argc, argv);
    try {
        return zt::test::run(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zt-road-latency: %s\n", e.what());
        return 1;
    }
}
