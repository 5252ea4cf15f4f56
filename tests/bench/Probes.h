#pragma once

#include <QTimer>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zt::test {

class BenchRig;

// Calls the application keeps answering while it works, sent at a steady
// pace from this process's event loop: ReadValue from the daemon double on
// the system bus, and the tray menu's GetLayout on the session bus. Each is
// stamped when it leaves and when its answer is taken from the loop; the
// longest wait bounds from below how long the application's own event loop
// was blocked (less one bus round trip).
class Probes {
public:
    using Clock = std::chrono::steady_clock;
    struct Call {
        Clock::time_point sent;
        Clock::duration wait{}; // until the answer, once answered
        bool answered = false;
        std::string error; // the name of an error answer, a timeout included
    };
    struct Kind {
        std::vector<Call> calls;
        int open = 0;
    };
    // The calls of one kind sent in a span of time.
    struct Span {
        std::vector<double> waitsMs; // an open call counts until now
        std::vector<double> failedWaitsMs;
        std::map<std::string, int> errors; // by name
    };
    static Span span(const Kind& kind, Clock::time_point from, Clock::time_point to);

    Probes(BenchRig& rig, std::chrono::milliseconds interval);

    void start() { timer_.start(); }
    void stop() { timer_.stop(); }
    // One ReadValue now, besides the steady pace.
    void read();
    // Runs the event loop until every call sent has its answer; false at `limit`.
    bool settle(std::chrono::milliseconds limit);

    int failures() const;
    int openCalls() const { return reads_->open + menus_->open; }
    const Kind& reads() const { return *reads_; }
    const Kind& menus() const { return *menus_; }

private:
    void menu();

    BenchRig& rig_;
    QTimer timer_;
    // Shared with the answer handlers, which may outlive this object.
    std::shared_ptr<Kind> reads_ = std::make_shared<Kind>();
    std::shared_ptr<Kind> menus_ = std::make_shared<Kind>();
};

} // namespace zt::test
