#pragma once

#include <chrono>
#include <functional>

namespace zt::test {

// Runs the Qt event loop of this thread until `done` holds; false when it
// does not within `limit`. Everything under test here is driven by that
// loop, so this is the only way a test waits.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10));

} // namespace zt::test
