#pragma once

#include <signal.h>

namespace zt::test {

// SIGPIPE's default action, which ends the process, for as long as this
// lives. The test servers' helper ignores the signal for the whole test
// process, which would hide a write to a peer that has gone.
class DefaultSigpipe {
public:
    DefaultSigpipe()
    {
        struct sigaction byDefault = {};
        byDefault.sa_handler = SIG_DFL;
        sigaction(SIGPIPE, &byDefault, &saved_);
    }
    ~DefaultSigpipe() { sigaction(SIGPIPE, &saved_, nullptr); }
    DefaultSigpipe(const DefaultSigpipe&) = delete;
    DefaultSigpipe& operator=(const DefaultSigpipe&) = delete;

private:
    struct sigaction saved_ = {};
};

} // namespace zt::test
