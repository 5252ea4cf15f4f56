#pragma once

#include <sys/types.h>

#include <cstdint>

namespace zt::test {

// What the kernel tells about a process from /proc, all its threads together.
struct ProcessStats {
    // utime + stime of the whole thread group, in clock ticks.
    std::uint64_t cpuTicks = 0;
    // Summed over the threads alive now (/proc/<pid>/task/*/status).
    std::uint64_t voluntarySwitches = 0;
    std::uint64_t involuntarySwitches = 0;
    // kB, from /proc/<pid>/status.
    std::uint64_t rssKb = 0;
    std::uint64_t peakRssKb = 0; // VmHWM
    bool valid = false;

    // All zeros and not valid when the process is gone.
    static ProcessStats of(pid_t pid);
    static double ticksPerSecond();
};

} // namespace zt::test
