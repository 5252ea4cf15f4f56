#pragma once

#include "support/ChildProcess.h"

#include <string>

namespace zt::test {

// What the application is given on a private desktop: the X display, the
// two buses, a home of its own (with a private runtime folder in it), and
// none of the machine's desktop session, which would make it differ from
// run to run.
struct ApplicationDesktop {
    std::string display;
    std::string systemBus;
    std::string sessionBus;
    std::string home;
};

ChildProcess::Environment applicationEnvironment(const ApplicationDesktop& desktop);

} // namespace zt::test
