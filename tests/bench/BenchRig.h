#pragma once

#include "bench/PointerWatch.h"
#include "bench/TrayHost.h"
#include "bench/WriteSender.h"
#include "fakebluez/FakeBluez.h"
#include "support/ChildProcess.h"
#include "support/PrivateBus.h"
#include "support/XvfbServer.h"

#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>
#include <optional>
#include <string>

namespace zt::test {

// Everything the application meets, each part started here: a private
// system bus with the daemon double on it (in this process, on its own
// connection), a private session bus with a tray host, Xvfb, an X client
// watching the pointer, and the application itself as a child process
// with a home of its own. While the event loop runs, pointer motion is read
// as it comes and the application's output is taken from its pipe (it
// prints a line for every read: a full pipe would stop it).
class BenchRig {
public:
    explicit BenchRig(std::string applicationPath);
    ~BenchRig();

    // Starts the application afresh and waits until it has registered with
    // the daemon double and exported its tray icon; throws when it does not.
    void startApplication();
    void stopApplication();

    ChildProcess& application() { return *application_; }
    pid_t applicationPid() const { return pid_; }
    FakeBluez& bluez() { return bluez_; }
    TrayHost& tray() { return tray_; }
    PointerWatch& pointer() { return pointer_; }
    WriteSender& writer() { return *writer_; }
    const std::string& display() const { return xvfb_.displayName(); }
    const std::string& systemBus() const { return systemBus_.address(); }

private:
    std::string applicationPath_;
    QTemporaryDir home_;
    PrivateBus systemBus_;
    PrivateBus sessionBus_;
    // Without -noreset the server would start over whenever its last
    // client leaves, between two runs of the application.
    XvfbServer xvfb_{{"-noreset"}};
    PointerWatch pointer_{xvfb_.displayName()};
    FakeBluez bluez_;
    TrayHost tray_;
    QSocketNotifier motion_{pointer_.fd(), QSocketNotifier::Read};
    QTimer output_;
    std::unique_ptr<ChildProcess> application_;
    pid_t pid_ = -1;
    std::optional<WriteSender> writer_;
};

} // namespace zt::test
