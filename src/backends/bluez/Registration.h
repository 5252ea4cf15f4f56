#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace zt::bluez {

// One of our objects registered with a manager interface of the daemon
// (GattManager1.RegisterApplication, LEAdvertisingManager1.RegisterAdvertisement).
// Keeps track of whether the current daemon holds it, so that asking again
// registers at most once.
class Registration {
public:
    Registration(QDBusConnection bus, QString managerInterface, QString registerMethod, QString unregisterMethod,
                 QString objectPath);
    ~Registration();
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

    // Registers on the adapter of `owner` unless registered, on the way, or
    // refused since the last retry().
    void ensure(const QString& owner, const QString& adapterPath);
    // The daemon no longer holds it (restart, adapter gone, released).
    void forget();
    // Lets a refused registration be tried again.
    void retry();

    bool registered() const { return status_ == Status::registered; }

private:
    enum class Status { none, pending, registered, refused };

    void finished(const QDBusMessage& reply);

    QDBusConnection bus_;
    QString interface_;
    QString registerMethod_;
    QString unregisterMethod_;
    QString objectPath_;
    QString owner_;
    QString adapterPath_;
    Status status_ = Status::none;
    // Bumped by forget(): the answer to an older attempt is dropped.
    quint64 attempt_ = 0;
    QObject calls_;
};

} // namespace zt::bluez
