#pragma once

#include <QDBusConnection>
#include <QDBusVariant>
#include <QFile>
#include <QObject>
#include <QProcess>
#include <QTemporaryDir>

namespace zt::apptest {

// A dbus-daemon of the test's own, with no activatable services.
class PrivateBus {
public:
    PrivateBus()
    {
        QFile config(dir_.filePath(QStringLiteral("bus.conf")));
        if (!config.open(QIODevice::WriteOnly))
            return;
        config.write(QStringLiteral("<busconfig><type>session</type><listen>unix:dir=%1</listen><auth>EXTERNAL</auth>"
                                    "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                    "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>")
                         .arg(dir_.path())
                         .toUtf8());
        config.close();
        daemon_.start(QStringLiteral("dbus-daemon"), {"--config-file=" + config.fileName(), "--nofork",
                                                      "--print-address"});
        if (daemon_.waitForReadyRead(5000) && (daemon_.canReadLine() || daemon_.waitForReadyRead(5000)))
            address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        daemon_.terminate();
        if (!daemon_.waitForFinished(5000))
            daemon_.kill();
        daemon_.waitForFinished(5000);
    }
    const QString& address() const { return address_; }

private:
    QTemporaryDir dir_;
    QProcess daemon_;
    QString address_;
};

// The desktop's settings portal, reduced to the colour scheme.
class FakePortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    QVariant scheme;
    bool doubleWrapped = false;
    void announce(const QString& key, const QVariant& value)
    {
        Q_EMIT SettingChanged(QStringLiteral("org.freedesktop.appearance"), key, QDBusVariant(value));
    }

public Q_SLOTS:
    QDBusVariant Read(const QString&, const QString&)
    {
        return doubleWrapped ? QDBusVariant(QVariant::fromValue(QDBusVariant(scheme))) : QDBusVariant(scheme);
    }

Q_SIGNALS:
    void SettingChanged(const QString& ns, const QString& key, const QDBusVariant& value);
};

} // namespace zt::apptest
