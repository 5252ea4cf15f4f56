#pragma once

#include "integration/ChildProcess.h"
#include "integration/PointerObserver.h"

#include <QTemporaryDir>

#include <memory>
#include <string>

namespace zt::test {

// A system tray for applications to dock into: tint2 with a panel along the
// bottom of the screen that holds nothing but the tray, on a plain grey
// background, so pictures of it depend only on the icons in it.
class TrayHost {
public:
    static constexpr int panelHeight = 32;

    explicit TrayHost(const std::string& displayName);
    ~TrayHost();
    TrayHost(const TrayHost&) = delete;
    TrayHost& operator=(const TrayHost&) = delete;

    // Waits until the tray takes icons; false if it does not.
    bool waitReady();
    Rect panel() const { return panel_; }
    QString diagnostics() { return tint2_ ? tint2_->diagnostics() : QStringLiteral("tint2 not started"); }

private:
    struct Connection;
    std::unique_ptr<Connection> connection_;
    std::string displayName_;
    QTemporaryDir directory_;
    std::unique_ptr<ChildProcess> tint2_;
    Rect panel_;
};

} // namespace zt::test
