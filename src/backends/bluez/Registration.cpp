#include "backends/bluez/Registration.h"

#include "backends/bluez/BluezNames.h"

#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QVariantMap>
#include <QtDebug>

#include <utility>

namespace zt::bluez {

Registration::Registration(QDBusConnection bus, QString managerInterface, QString registerMethod,
                           QString unregisterMethod, QString objectPath)
    : bus_(std::move(bus)), interface_(std::move(managerInterface)), registerMethod_(std::move(registerMethod)),
      unregisterMethod_(std::move(unregisterMethod)), objectPath_(std::move(objectPath))
{
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
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), &calls_);
    const quint64 attempt = attempt_;
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &calls_, [this, watcher, attempt] {
        watcher->deleteLater();
        if (attempt == attempt_)
            finished(watcher->reply());
    });
}

void Registration::finished(const QDBusMessage& reply)
{
    // AlreadyExists: the daemon kept an earlier registration of ours.
    if (reply.type() == QDBusMessage::ReplyMessage || reply.errorName() == QLatin1String(names::errorAlreadyExists)) {
        status_ = Status::registered;
        return;
    }
    status_ = Status::refused;
    qWarning("Bluetooth: %s of %s failed: %s: %s", qPrintable(registerMethod_), qPrintable(objectPath_),
             qPrintable(reply.errorName()), qPrintable(reply.errorMessage()));
}

void Registration::forget()
{
    status_ = Status::none;
    ++attempt_;
}

void Registration::retry()
{
    if (status_ == Status::refused)
        status_ = Status::none;
}

} // namespace zt::bluez
