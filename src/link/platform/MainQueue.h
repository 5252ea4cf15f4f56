#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace zt {

// Monotonic time as the main queue sees it.
using MonoTime = std::chrono::nanoseconds;

class Timer {
public:
    virtual ~Timer() = default;
    // Harmless on a timer that already fired or was invalidated.
    virtual void invalidate() = 0;
};

// Everything the link runs later runs here, on the main thread.
class MainQueue {
public:
    virtual ~MainQueue() = default;
    virtual MonoTime now() const = 0;
    // Runs `work` once, on the main thread, no earlier than `deadline` and
    // never inside the call that handed it over. Items due at once run in
    // the order of their deadlines, ties in the order handed over.
    virtual void asyncAfter(MonoTime deadline, std::function<void()> work) = 0;
    // A one-shot timer: `block` runs once after `interval`, unless
    // invalidated first. Destroying the handle does not invalidate it.
    virtual std::shared_ptr<Timer> scheduledTimer(std::chrono::duration<double> interval,
                                                  std::function<void()> block) = 0;
};

} // namespace zt
