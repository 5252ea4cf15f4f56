#include "bench/ProcessStats.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace zt::test {
namespace {

// The number after "key:" in a /proc status file; 0 when absent.
std::uint64_t statusField(const std::string& text, const std::string& key)
{
    const std::size_t at = text.find("\n" + key + ":");
    return at == std::string::npos ? 0 : std::stoull(text.substr(at + key.size() + 2));
}

std::string slurp(const std::filesystem::path& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << "\n" << in.rdbuf();
    return text.str();
}

} // namespace

ProcessStats ProcessStats::of(pid_t pid)
{
    ProcessStats stats;
    const std::filesystem::path root = "/proc/" + std::to_string(pid);
    // The command name in parentheses may hold spaces; fields count from after it.
    const std::string stat = slurp(root / "stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return stats;
    std::istringstream fields(stat.substr(close + 2));
    std::string skipped;
    // state, ppid, pgrp, session, tty_nr, tpgid, flags, minflt, cminflt, majflt, cmajflt
    for (int i = 0; i < 11; ++i)
        fields >> skipped;
    std::uint64_t utime = 0;
    std::uint64_t stime = 0;
    fields >> utime >> stime;
    stats.cpuTicks = utime + stime;

    const std::string status = slurp(root / "status");
    stats.rssKb = statusField(status, "VmRSS");
    stats.peakRssKb = statusField(status, "VmHWM");
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(root / "task", error)) {
        const std::string taskStatus = slurp(task.path() / "status");
        stats.voluntarySwitches += statusField(taskStatus, "voluntary_ctxt_switches");
        stats.involuntarySwitches += statusField(taskStatus, "nonvoluntary_ctxt_switches");
    }
    stats.valid = !fields.fail() && !error;
    return stats;
}

double ProcessStats::ticksPerSecond() { return static_cast<double>(sysconf(_SC_CLK_TCK)); }

} // namespace zt::test
