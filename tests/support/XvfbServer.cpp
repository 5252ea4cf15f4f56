#include "support/XvfbServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

extern char** environ;

namespace zt::test {
namespace {

constexpr auto startLimit = std::chrono::seconds(20);
constexpr auto stopLimit = std::chrono::seconds(5);

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset()
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

std::string readAll(const std::string& path)
{
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Reads the display number Xvfb writes once it accepts connections. Empty
// when it exits or does not answer in time.
std::string readDisplayNumber(int fd)
{
    std::string text;
    const auto giveUp = std::chrono::steady_clock::now() + startLimit;
    while (text.find('\n') == std::string::npos) {
        using std::chrono::milliseconds;
        const auto left = std::chrono::duration_cast<milliseconds>(giveUp - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return {};
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return {};
        char buffer[32];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return {};
        text.append(buffer, static_cast<std::size_t>(n));
    }
    text.resize(text.find('\n'));
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return {};
    return text;
}

} // namespace

XvfbServer::XvfbServer(const std::vector<std::string>& extraArgs)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        throw std::runtime_error("XvfbServer: pipe failed");
    Fd readEnd(ends[0]);
    Fd writeEnd(ends[1]);

    const char* tmp = std::getenv("TMPDIR");
    std::string logTemplate = std::string(tmp && *tmp ? tmp : "/tmp") + "/zt-xvfb-XXXXXX";
    Fd log(mkstemp(logTemplate.data()));
    if (log.get() < 0)
        throw std::runtime_error("XvfbServer: cannot create a log file");
    logPath_ = logTemplate;

    const std::string fdText = std::to_string(writeEnd.get());
    std::vector<std::string> args{"Xvfb", "-displayfd", fdText, "-screen", "0", "1280x800x24", "-nolisten", "tcp"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Duplicating a descriptor onto itself clears close-on-exec for the
    // child only (glibc 2.29 and later).
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), writeEnd.get());
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, log.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, log.get(), STDERR_FILENO);
    // Its own process group, so a terminal's Ctrl-C reaches the test first
    // and the destructor still gets to stop the server.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    const int spawned = posix_spawnp(&pid_, "Xvfb", &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        pid_ = -1;
        unlink(logPath_.c_str());
        throw std::runtime_error("XvfbServer: cannot run Xvfb");
    }
    // Only the child may hold the write end now, so a dying server shows
    // as end of file rather than a wait for the time limit.
    writeEnd.reset();

    const std::string number = readDisplayNumber(readEnd.get());
    if (number.empty()) {
        stop();
        const std::string output = readAll(logPath_);
        unlink(logPath_.c_str());
        throw std::runtime_error("XvfbServer: Xvfb did not start:\n" + output);
    }
    displayName_ = ":" + number;
}

XvfbServer::~XvfbServer()
{
    stop();
    unlink(logPath_.c_str());
}

void XvfbServer::stop()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    // A pidfd turns readable when the process ends: a bounded wait for
    // the server to shut down, with SIGKILL if it does not.
    // The libc wrapper of Debian 12 is not declared for C++; the call is.
    const Fd exited(static_cast<int>(syscall(SYS_pidfd_open, pid_, 0)));
    if (exited.get() >= 0) {
        pollfd p{exited.get(), POLLIN, 0};
        const int limitMs = static_cast<int>(std::chrono::milliseconds(stopLimit).count());
        while (poll(&p, 1, limitMs) < 0 && errno == EINTR) {
        }
    }
    if (waitpid(pid_, nullptr, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
}

} // namespace zt::test
