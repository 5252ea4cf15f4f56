#pragma once

#include "backends/qt/QtMainQueue.h"
#include "backends/x11/X11PointerEvents.h"
#include "integration/TimestampingPointer.h"
#include "link/platform/Platform.h"

#include <QDBusConnection>
#include <QString>

#include <memory>
#include <string>

namespace zt::test {

// The real backends, pointed at a private X display and a private bus: the
// Qt main queue, the X11 pointer (seen through a TimestampingPointer) and
// the BlueZ peripheral manager on a connection of its own. Needs a running
// QCoreApplication.
class TestPlatform final : public Platform {
public:
    TestPlatform(const std::string& displayName, const QString& busAddress);
    ~TestPlatform() override = default;
    TestPlatform(const TestPlatform&) = delete;
    TestPlatform& operator=(const TestPlatform&) = delete;

    MainQueue& mainQueue() override { return queue_; }
    PointerEvents& pointerEvents() override { return pointer_; }
    std::unique_ptr<PeripheralManager> makePeripheralManager(PeripheralManagerDelegate& delegate) override;

    const TimestampingPointer& pointer() const { return pointer_; }
    const QDBusConnection& bus() const { return bus_.connection; }

private:
    struct NamedConnection {
        NamedConnection(const QString& address, const QString& name);
        ~NamedConnection();
        NamedConnection(const NamedConnection&) = delete;
        NamedConnection& operator=(const NamedConnection&) = delete;
        QString name;
        QDBusConnection connection;
    };

    // In this order: the queue goes first, and with it any pending move that
    // is the last to hold the Watch, while the pointer and bus it uses remain.
    NamedConnection bus_;
    X11PointerEvents x11_;
    TimestampingPointer pointer_;
    QtMainQueue queue_;
};

} // namespace zt::test
