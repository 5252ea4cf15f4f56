#pragma once

#include <QDBusConnection>
#include <QString>

#include <memory>

namespace zt::test {

// The desktop's settings portal on a bus of the test's own, knowing one
// setting: org.freedesktop.appearance color-scheme (0 no preference,
// 1 prefer dark, 2 prefer light). Read answers as the portal does, the value
// wrapped in a variant twice; ReadOne wraps it once. Any other setting is
// not found.
class FakePortal {
public:
    FakePortal(const QString& busAddress, quint32 colorScheme);
    ~FakePortal();
    FakePortal(const FakePortal&) = delete;
    FakePortal& operator=(const FakePortal&) = delete;

    // Takes org.freedesktop.portal.Desktop; false when it cannot.
    bool start();
    // Read and ReadOne calls answered so far.
    int reads() const { return reads_; }

private:
    class Object;

    QString connectionName_;
    QDBusConnection connection_;
    std::unique_ptr<Object> object_;
    quint32 colorScheme_;
    int reads_ = 0;
};

} // namespace zt::test
