#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct _XDisplay;

namespace zt::test {

// An X client that notices pointer motion as any application on the screen
// would: a window over the whole screen selecting MotionNotify, on a
// connection of its own. Each motion is stamped when it is read from the
// socket; the caller reads whenever the socket turns readable (fd()).
// A second connection posts motion through XTest, as another client would:
// the floor that the same watcher sees.
class PointerWatch {
public:
    using Clock = std::chrono::steady_clock;
    struct Motion {
        Clock::time_point seen;
        int x;
        int y;
    };

    explicit PointerWatch(const std::string& displayName);
    ~PointerWatch();
    PointerWatch(const PointerWatch&) = delete;
    PointerWatch& operator=(const PointerWatch&) = delete;

    int fd() const;
    // Reads every event the server has sent so far; never waits.
    void read();
    // Reads as events come until `deadline`, or until `done` holds; waits
    // on the socket alone (no event loop), for the closest stamps.
    void readUntil(Clock::time_point deadline, const std::function<bool()>& done = {});
    // Until `count` motions are kept in all; false at `deadline`.
    bool waitForMotions(std::size_t count, Clock::time_point deadline);
    // Reads until no motion has come for `quiet` since `since` or the last
    // motion after it; false at `deadline`.
    bool waitForQuiet(Clock::time_point since, Clock::duration quiet, Clock::time_point deadline);

    // The motions seen since the last warp() or keep(), while keeping.
    const std::vector<Motion>& motions() const { return motions_; }
    // Not keeping, only total() and last() follow: floods move the pointer
    // millions of times.
    void keep(bool keeping) { keeping_ = keeping; motions_.clear(); }
    // Every motion since the last warp(), also those forgotten.
    std::size_t total() const { return total_; }
    std::optional<Motion> last() const { return last_; }
    // Puts the pointer at (x, y) and forgets every motion so far.
    void warp(int x, int y);
    // Another client moves the pointer to (x, y); returns when the request
    // is on its way to the server.
    void post(int x, int y);

private:
    std::unique_ptr<_XDisplay, int (*)(_XDisplay*)> watcher_;
    std::unique_ptr<_XDisplay, int (*)(_XDisplay*)> poster_;
    std::vector<Motion> motions_;
    bool keeping_ = true;
    std::size_t total_ = 0;
    std::optional<Motion> last_;
};

} // namespace zt::test
