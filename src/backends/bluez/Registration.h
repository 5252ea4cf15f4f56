#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>

namespace zt::bluez {

// How long a registration call may take, and how long to wait before trying
// again after one failed: `firstRetry`, doubling up to `longestRetry`.
struct RegistrationTiming {
    std::chrono::milliseconds callTimeout{25000}; // libdbus's own default
    std::chrono::milliseconds firstRetry{1000};
    std::chrono::milliseconds longestRetry{30000};

    // The wait after `failures` failed calls in a row (at least one).
    std::chrono::milliseconds retryDelay(int failures) const;
};

// One of our objects registered with a manager interface of the daemon
// (GattManager1.RegisterApplication, LEAdvertisingManager1.RegisterAdvertisement).
// Keeps track of whether the current daemon holds it, so that asking again
// registers at most once. A call that fails for any reason but the daemon
// refusing its arguments is tried again after a back-off; `retryDue` runs
// when that time has come, for the owner to call ensure() again if the
// adapter still wants it.
class Registration {
public:
    Registration(QDBusConnection bus, QString managerInterface, QString registerMethod, QString unregisterMethod,
                 QString objectPath, RegistrationTiming timing, std::function<void()> retryDue);
    ~Registration();
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

    // Registers on the adapter of `owner` unless registered, on the way,
    // waiting to try again, or refused since the last retry().
    void ensure(const QString& owner, const QString& adapterPath);
    // The daemon no longer holds it (restart, adapter gone, released).
    void forget();
    // Drops a pending retry and starts the back-off afresh: the adapter went off.
    void stopRetrying();
    // Lets a refused or backing-off registration be tried again at once.
    void retry();

    bool registered() const { return status_ == Status::registered; }

private:
    enum class Status { none, pending, registered, waiting, refused };

    void finished(const QDBusMessage& reply);

    QDBusConnection bus_;
    QString interface_;
    QString registerMethod_;
    QString unregisterMethod_;
    QString objectPath_;
    RegistrationTiming timing_;
    QString owner_;
    QString adapterPath_;
    Status status_ = Status::none;
    // Bumped by forget(): the answer to an older attempt is dropped.
    quint64 attempt_ = 0;
    int failures_ = 0; // in a row, since the last success or stop
    // The error last warned about: a failure that repeats is warned about once.
    QString lastError_;
    QObject calls_;
    QTimer retryTimer_;
};

} // namespace zt::bluez
