#include "support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

extern char** environ;

namespace zt::test {
namespace {

std::vector<char*> pointersTo(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    for (std::string& t : texts)
        pointers.push_back(t.data());
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

ChildProcess::ChildProcess(std::string name, std::vector<std::string> arguments, const Environment& changes)
    : name_(std::move(name))
{
    // A child that has ended must not take the test with it on the next send.
    signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e)
        if (const std::string entry = *e; !changes.contains(entry.substr(0, entry.find('='))))
            environment.push_back(entry);
    for (const auto& [key, value] : changes)
        if (!value.empty())
            environment.push_back(key + "=" + value);
    const std::vector<char*> argv = pointersTo(arguments);
    const std::vector<char*> envp = pointersTo(environment);

    int in[2];
    int out[2];
    char errorsPath[] = "/tmp/zt-child-XXXXXX";
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || (errors_ = mkostemp(errorsPath, O_CLOEXEC)) < 0)
        throw std::runtime_error(name_ + ": no pipes");
    unlink(errorsPath);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        // Async-signal-safe calls only from here on.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        setpgid(0, 0);
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(errors_, STDERR_FILENO);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    input_ = in[1];
    output_ = out[0];
    if (pid_ < 0)
        throw std::runtime_error(name_ + ": fork failed");
}

ChildProcess::~ChildProcess()
{
    stop();
    for (const int fd : {input_, output_, errors_})
        close(fd);
}

bool ChildProcess::running()
{
    if (status_ < 0 && pid_ > 0 && waitpid(pid_, &status_, WNOHANG) == 0)
        status_ = -1;
    return status_ < 0;
}

void ChildProcess::stop()
{
    if (!running())
        return;
    kill(pid_, SIGTERM);
    // A pidfd turns readable when the process ends: a bounded wait. The libc
    // wrapper of Debian 12 is not declared for C++; the call is.
    const int exited = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    pollfd p{exited, POLLIN, 0};
    while (exited >= 0 && poll(&p, 1, 5000) < 0 && errno == EINTR) {
    }
    close(exited);
    if (waitpid(pid_, &status_, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
    }
}

void ChildProcess::send(const std::string& line)
{
    const std::string text = line + "\n";
    [[maybe_unused]] const ssize_t written = write(input_, text.data(), text.size());
}

// False when nothing came within the time, or at end of output.
bool ChildProcess::readSome(int timeoutMs)
{
    pollfd p{output_, POLLIN, 0};
    const int ready = poll(&p, 1, timeoutMs);
    if (ready < 0)
        return errno == EINTR;
    char buffer[4096];
    const ssize_t n = ready > 0 ? read(output_, buffer, sizeof buffer) : 0;
    if (n <= 0)
        return n < 0 && errno == EINTR;
    pending_.append(buffer, static_cast<std::size_t>(n));
    for (auto end = pending_.find('\n'); end != std::string::npos; end = pending_.find('\n')) {
        lines_.push_back(pending_.substr(0, end));
        pending_.erase(0, end + 1);
    }
    return true;
}

const std::vector<std::string>& ChildProcess::lines()
{
    while (readSome(0)) {
    }
    return lines_;
}

std::optional<std::string> ChildProcess::waitForLine(std::size_t index, std::chrono::milliseconds limit)
{
    using Clock = std::chrono::steady_clock;
    const auto giveUp = Clock::now() + limit;
    while (lines_.size() <= index) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - Clock::now()).count();
        if (left <= 0 || !readSome(static_cast<int>(left)))
            return std::nullopt;
    }
    return lines_[index];
}

std::string ChildProcess::diagnostics()
{
    std::string text = name_ + " (pid " + std::to_string(pid_) + ")";
    if (!running())
        text += " ended, wait status " + std::to_string(status_);
    text += "\nstdout:\n";
    for (const std::string& line : lines())
        text += line + "\n";
    return text + "stderr:\n" + errors();
}

std::string ChildProcess::errors(std::size_t most)
{
    std::string errors(most, '\0');
    const off_t size = lseek(errors_, 0, SEEK_END);
    const auto start = std::max<off_t>(0, size - static_cast<off_t>(most));
    errors.resize(static_cast<std::size_t>(std::max<ssize_t>(0, pread(errors_, errors.data(), errors.size(), start))));
    return errors;
}

} // namespace zt::test
