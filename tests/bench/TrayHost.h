#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QStringList>

namespace zt::test {

// The smallest desktop tray host over D-Bus: org.kde.StatusNotifierWatcher
// on a session bus, saying a host is there, so that Qt exports a tray icon
// and its menu there even under the xcb platform. It remembers who
// registered an item; callMenu() asks that item's exported menu for its
// layout (com.canonical.dbusmenu GetLayout), a call the application's main
// thread answers.
class TrayHost : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    explicit TrayHost(const QString& busAddress);
    ~TrayHost() override;

    bool start();
    QDBusConnection connection() const { return connection_; }
    // The unique name of the connection that registered the last item.
    const QString& itemOwner() const { return itemOwner_; }
    void forget() { itemOwner_.clear(); }

    bool isHostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const { return itemOwner_.isEmpty() ? QStringList() : QStringList{itemOwner_}; }

    QDBusMessage menuCall() const;

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message);
    void RegisterStatusNotifierHost(const QString& service);

private:
    QDBusConnection connection_;
    QString itemOwner_;
};

} // namespace zt::test
