#include "support/PrivateBus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace zt::test {
namespace {

constexpr auto startLimit = std::chrono::seconds(20);
constexpr auto stopLimit = std::chrono::seconds(5);

std::string configFor(const std::string& directory)
{
    return R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=)" + directory + R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";
}

std::string readAll(const std::string& path)
{
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The first line dbus-daemon prints once it listens; empty when it exits
// or says nothing in time.
std::string readLine(int fd)
{
    std::string text;
    const auto giveUp = std::chrono::steady_clock::now() + startLimit;
    while (text.find('\n') == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return {};
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return {};
        char buffer[256];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return {};
        text.append(buffer, static_cast<std::size_t>(n));
    }
    text.resize(text.find('\n'));
    return text;
}

} // namespace

PrivateBus::PrivateBus()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string directoryTemplate = std::string(tmp && *tmp ? tmp : "/tmp") + "/zt-bus-XXXXXX";
    if (!mkdtemp(directoryTemplate.data()))
        throw std::runtime_error("PrivateBus: cannot create a directory");
    directory_ = directoryTemplate;
    const std::string configPath = directory_ + "/bus.conf";
    const std::string logPath = directory_ + "/bus.log";
    std::ofstream(configPath) << configFor(directory_);

    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        std::filesystem::remove_all(directory_);
        throw std::runtime_error("PrivateBus: pipe failed");
    }
    const int readEnd = ends[0];
    const int writeEnd = ends[1];

    std::vector<std::string> args{"dbus-daemon", "--config-file=" + configPath, "--nofork",
                                  "--print-address=" + std::to_string(writeEnd)};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Duplicating a descriptor onto itself clears close-on-exec for the child only.
    posix_spawn_file_actions_adddup2(&actions, writeEnd, writeEnd);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    // Its own process group: a terminal's Ctrl-C reaches the test first and
    // the destructor still stops the bus.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    const int spawned = posix_spawnp(&pid_, "dbus-daemon", &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(writeEnd);
    if (spawned != 0) {
        pid_ = -1;
        close(readEnd);
        std::filesystem::remove_all(directory_);
        throw std::runtime_error("PrivateBus: cannot run dbus-daemon");
    }

    address_ = readLine(readEnd);
    close(readEnd);
    if (address_.empty()) {
        stop();
        const std::string output = readAll(logPath);
        std::filesystem::remove_all(directory_);
        throw std::runtime_error("PrivateBus: dbus-daemon did not start:\n" + output);
    }
}

PrivateBus::~PrivateBus()
{
    stop();
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

void PrivateBus::stop()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    const auto giveUp = std::chrono::steady_clock::now() + stopLimit;
    while (waitpid(pid_, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= giveUp) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    pid_ = -1;
}

} // namespace zt::test
