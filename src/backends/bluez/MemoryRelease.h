#pragma once

#include <QTimer>

#include <chrono>
#include <cstddef>
#include <functional>

namespace zt::bluez {

// Gives the memory a burst of calls left behind back to the system once the
// bus has been quiet for a while. glibc keeps what was freed for reuse, and a
// flood of writes can leave hundreds of megabytes there for the life of the
// process. Costs a counter per call and, while calls come, one wakeup per
// quiet interval.
class MemoryRelease {
public:
    // `release` by default trims the heap (malloc_trim).
    MemoryRelease(std::chrono::milliseconds quiet, std::size_t burst, std::function<void()> release = {});
    MemoryRelease(const MemoryRelease&) = delete;
    MemoryRelease& operator=(const MemoryRelease&) = delete;

    // A call came, or work on one was done.
    void noteCall();

private:
    void check();

    const std::size_t burst_;
    const std::function<void()> release_;
    std::size_t calls_ = 0; // since the last release
    std::size_t callsWhenArmed_ = 0;
    QTimer timer_;
};

} // namespace zt::bluez
