#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>

#include <string>

namespace zt::test {

// Every reply and error sent on a bus, as dbus-monitor sees them: also the
// ones the bus then drops because nobody asked for them.
class BusMonitor {
public:
    struct Reply {
        bool error = false;
        QString sender;
        QString destination;
    };

    explicit BusMonitor(const std::string& address);
    ~BusMonitor();
    BusMonitor(const BusMonitor&) = delete;
    BusMonitor& operator=(const BusMonitor&) = delete;

    // True once the monitor is in place; needs the event loop to run.
    bool ready();
    // Everything seen so far.
    const QList<Reply>& replies();

private:
    void take();

    QProcess process_;
    QByteArray pending_;
    bool ready_ = false;
    QList<Reply> replies_;
};

} // namespace zt::test
