#include "backends/bluez/Registration.h"

#include "backends/bluez/BluezNames.h"

#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QVariantMap>
#include <QtDebug>

#include <algorithm>
#include <utility>

namespace zt::bluez {

std::chrono::milliseconds RegistrationTiming::retryDelay(int failures) const
{
    std::chrono::milliseconds delay = firstRetry;
    for (int i = 1; i < failures && delay < longestRetry; ++i)
        delay *= 2;
    return std::min(delay, longestRetry);
}

Registration::Registration(QDBusConnection bus, QString managerInterface, QString registerMethod,
                           QString unregisterMethod, QString objectPath, RegistrationTiming timing,
                           std::function<void()> retryDue)
    : bus_(std::move(bus)), interface_(std::move(managerInterface)), registerMethod_(std::move(registerMethod)),
      unregisterMethod_(std::move(unregisterMethod)), objectPath_(std::move(objectPath)), timing_(timing)
{
    retryTimer_.setSingleShot(true);
    QObject::connect(&retryTimer_, &QTimer::timeout, &calls_, [this, retryDue = std::move(retryDue)] {
        if (status_ != Status::waiting)
            return;
        status_ = Status::none;
        retryDue();
    });
}

Registration::~Registration()
{
    // Our objects go away with us; tell the daemon rather than leave it a
    // registration that points at nothing. No answer is awaited.
    if (status_ == Status::registered) {
        bus_.send(QDBusMessage::createMethodCall(owner_, adapterPath_, interface_, unregisterMethod_)
                  << QVariant::fromValue(QDBusObjectPath(objectPath_)));
    }
}

void Registration::ensure(const QString& owner, const QString& adapterPath)
{
    if (status_ != Status::none)
        return;
    status_ = Status::pending;
    owner_ = owner;
    adapterPath_ = adapterPath;
    // Asynchronous: the daemon reads our objects before it answers.
    const QDBusMessage call = QDBusMessage::createMethodCall(owner, adapterPath, interface_, registerMethod_)
                              << QVariant::fromValue(QDBusObjectPath(objectPath_)) << QVariantMap();
    const auto timeout = static_cast<int>(timing_.callTimeout.count());
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, timeout), &calls_);
    const quint64 attempt = attempt_;
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &calls_, [this, watcher, attempt] {
        watcher->deleteLater();
        if (attempt == attempt_)
            finished(watcher->reply());
    });
}

void Registration::finished(const QDBusMessage& reply)
{
    // AlreadyExists: the daemon kept an earlier registration of ours, or
    // still works on one whose answer we gave up waiting for.
    if (reply.type() == QDBusMessage::ReplyMessage || reply.errorName() == QLatin1String(names::errorAlreadyExists)) {
        status_ = Status::registered;
        failures_ = 0;
        lastError_.clear();
        return;
    }
    // BlueZ answers InvalidArguments only when the call's own arguments are
    // malformed: the same call gets the same answer, so it waits for the
    // next time the adapter comes on. Anything else may pass (no answer in
    // time, a failure in the daemon or the kernel, no free advertising slot,
    // an interface not there yet).
    const bool refused = reply.errorName() == QLatin1String(names::errorInvalidArguments);
    if (reply.errorName() != lastError_) {
        lastError_ = reply.errorName();
        qWarning("Bluetooth: %s of %s failed%s: %s: %s", qPrintable(registerMethod_), qPrintable(objectPath_),
                 refused ? "" : ", trying again", qPrintable(reply.errorName()), qPrintable(reply.errorMessage()));
    }
    if (refused) {
        status_ = Status::refused;
        return;
    }
    status_ = Status::waiting;
    retryTimer_.start(timing_.retryDelay(++failures_));
}

void Registration::forget()
{
    stopRetrying();
    ++attempt_;
    status_ = Status::none;
    lastError_.clear();
}

void Registration::stopRetrying()
{
    retryTimer_.stop();
    failures_ = 0;
    if (status_ == Status::waiting)
        status_ = Status::none;
}

void Registration::retry()
{
    stopRetrying();
    if (status_ == Status::refused)
        status_ = Status::none;
}

} // namespace zt::bluez
