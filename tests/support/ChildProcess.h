#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zt::test {

// A program a test runs: in a process group of its own (a terminal's Ctrl-C
// reaches the test first), ended with the test should that be killed, and
// stopped on destruction (SIGTERM, then SIGKILL if it lingers). Standard
// input and output are pipes; standard error is kept for diagnostics.
class ChildProcess {
public:
    // Variables to set over the test's own environment; an empty value unsets.
    using Environment = std::map<std::string, std::string>;

    // Throws std::runtime_error without pipes or a process.
    ChildProcess(std::string name, std::vector<std::string> arguments, const Environment& changes = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    // How it ended, as waitpid() tells it; nothing while it runs.
    std::optional<int> waitStatus() { return running() ? std::nullopt : std::optional(status_); }
    void send(const std::string& line);
    // The complete lines of standard output so far; never waits.
    const std::vector<std::string>& lines();
    // Line `index`, waiting up to `limit` without running any event loop;
    // nullopt when the program ends or stays silent.
    std::optional<std::string> waitForLine(std::size_t index, std::chrono::milliseconds limit);
    std::string diagnostics();
    // The last `most` bytes of standard error.
    std::string errors(std::size_t most = 8000);
    void stop();

private:
    bool readSome(int timeoutMs);

    std::string name_;
    pid_t pid_ = -1;
    int status_ = -1;
    int input_ = -1;
    int output_ = -1;
    int errors_ = -1;
    std::string pending_;
    std::vector<std::string> lines_;
};

} // namespace zt::test
