#pragma once

#include "backends/qt/QtMainQueue.h"
#include "backends/x11/X11PointerEvents.h"
#include "link/platform/Platform.h"

#include <QDBusConnection>
#include <QString>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace zt::test {

// Passes every call on to the real pointer, noting when each event was handed
// over; with a `cost`, each event takes that much longer, as on a slow X server.
class TimestampingPointer final : public PointerEvents {
public:
    using Clock = std::chrono::steady_clock;
    struct Post {
        Clock::time_point called;
    };

    TimestampingPointer(PointerEvents& inner, std::chrono::microseconds cost) : inner_(inner), cost_(cost) {}

    std::optional<Point> currentLocation() override { return inner_.currentLocation(); }
    bool postMouseEvent(MouseEventType type, Point location) override
    {
        posts_.push_back({Clock::now()});
        if (cost_.count() > 0)
            std::this_thread::sleep_for(cost_);
        return inner_.postMouseEvent(type, location);
    }

    const std::vector<Post>& posts() const { return posts_; }

private:
    PointerEvents& inner_;
    std::chrono::microseconds cost_;
    std::vector<Post> posts_;
};

// The real backends on a private X display and bus: the Qt main queue, the X11
// pointer (through a TimestampingPointer) and the BlueZ peripheral manager on
// a connection of its own. Needs a running QCoreApplication.
class TestPlatform final : public Platform {
public:
    TestPlatform(const std::string& displayName, const QString& busAddress,
                 std::chrono::microseconds postCost = std::chrono::microseconds(0));
    // The queue goes first, and with it any pending move that is the last to
    // hold the Watch, while the pointer and bus it uses remain.
    ~TestPlatform() override;

    MainQueue& mainQueue() override { return *queue_; }
    PointerEvents& pointerEvents() override { return pointer_; }
    std::unique_ptr<PeripheralManager> makePeripheralManager(PeripheralManagerDelegate& delegate) override;

    const TimestampingPointer& pointer() const { return pointer_; }

private:
    QString busName_;
    QDBusConnection bus_;
    X11PointerEvents x11_;
    TimestampingPointer pointer_;
    std::unique_ptr<QtMainQueue> queue_ = std::make_unique<QtMainQueue>();
};

} // namespace zt::test
