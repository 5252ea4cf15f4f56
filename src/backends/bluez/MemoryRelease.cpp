#include "backends/bluez/MemoryRelease.h"

#include <malloc.h>

#include <utility>

namespace zt::bluez {

MemoryRelease::MemoryRelease(std::chrono::milliseconds quiet, std::size_t burst, std::function<void()> release)
    : burst_(burst), release_(release ? std::move(release) : [] { malloc_trim(0); })
{
    timer_.setSingleShot(true);
    timer_.setInterval(quiet);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { check(); });
}

void MemoryRelease::noteCall()
{
    ++calls_;
    if (timer_.isActive())
        return;
    callsWhenArmed_ = calls_;
    timer_.start();
}

void MemoryRelease::check()
{
    // Calls came within the interval: not quiet yet.
    if (calls_ != callsWhenArmed_) {
        callsWhenArmed_ = calls_;
        timer_.start();
        return;
    }
    if (calls_ < burst_)
        return;
    calls_ = 0;
    release_();
}

} // namespace zt::bluez
