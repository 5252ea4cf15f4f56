#include "bench/FloorMover.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>

namespace zt::test {

int runFloorMover(const std::string& displayName, int updates)
{
    Display* display = XOpenDisplay(displayName.c_str());
    const int timer = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    if (!display || timer < 0) {
        std::fprintf(stderr, "floor mover: no display %s or no timer\n", displayName.c_str());
        return 1;
    }
    const ::Window root = DefaultRootWindow(display);
    std::printf("start\n");
    std::fflush(stdout);

    using namespace std::chrono;
    const nanoseconds begin = duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()) + 10ms;
    for (int k = 0; k < updates; ++k) {
        for (int i = 0; i < 10; ++i) {
            const nanoseconds due = begin + 100ms * k + 10ms * i;
            itimerspec at{};
            at.it_value.tv_sec = static_cast<time_t>(due.count() / 1'000'000'000);
            at.it_value.tv_nsec = static_cast<long>(due.count() % 1'000'000'000);
            timerfd_settime(timer, TFD_TIMER_ABSTIME, &at, nullptr);
            std::uint64_t expirations = 0;
            if (read(timer, &expirations, sizeof expirations) < 0)
                return 1;

            ::Window rootReturn = 0;
            ::Window child = 0;
            int x = 0;
            int y = 0;
            int windowX = 0;
            int windowY = 0;
            unsigned int mask = 0;
            XQueryPointer(display, root, &rootReturn, &child, &x, &y, &windowX, &windowY, &mask);
            // To and fro, so the pointer stays where it was.
            XTestFakeMotionEvent(display, -1, x + (k % 2 == 0 ? 3 : -3), y, CurrentTime);
            XFlush(display);
        }
    }
    std::printf("end\n");
    std::fflush(stdout);
    std::string line;
    std::getline(std::cin, line);
    XCloseDisplay(display);
    close(timer);
    return 0;
}

} // namespace zt::test
