#pragma once

#include "link/platform/Platform.h"

#include <memory>

namespace zt {

// The one place that picks the real backends: the Qt event loop, the X11
// pointer and BlueZ on the system bus. Needs a running QCoreApplication.
std::unique_ptr<Platform> makeLinuxPlatform();

} // namespace zt
