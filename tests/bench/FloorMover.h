#pragma once

#include <string>

namespace zt::test {

// The floor of what a realistic watch costs any program on this machine:
// an X client that does per move only what a move must do, with nothing
// else in the process. It sleeps until the move is due (an absolute
// CLOCK_MONOTONIC timer), reads the pointer (one round trip) and posts one
// motion beside it through XTest. `updates` runs of ten moves 10 ms apart,
// one run every 100 ms, as the watch section's writes schedule them.
//
// Run as a child process, so that /proc tells its cost as it tells the
// application's: prints "start" once connected, "end" after the last move,
// then waits for a line on standard input before it exits. Returns the
// exit status.
int runFloorMover(const std::string& displayName, int updates);

} // namespace zt::test
