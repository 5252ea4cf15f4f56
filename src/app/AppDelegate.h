#pragma once

#include "app/Bundle.h"
#include "link/platform/Published.h"

#include <QHash>
#include <QIcon>
#include <QObject>
#include <QString>

#include <iostream>
#include <memory>
#include <vector>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace zt {

class AboutWindow;
class Appearance;
class Platform;
class Watch;

// The application's one delegate: owns the watch link, the tray icon with
// its menu and the About window, and answers the menu's actions.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    // Lines the user should see go to `out`.
    AppDelegate(Platform& platform, const Bundle& bundle, Appearance& appearance, std::ostream& out = std::cout);
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    QSystemTrayIcon* statusItem() const { return statusItem_.get(); }
    QWidget* window() const;
    QAction* startOnLoginMenuItem() const { return startOnLoginMenuItem_; }
    Watch* watch() const { return watch_.get(); }

public Q_SLOTS:
    // Runs once, from the event loop, when the application has started.
    void applicationDidFinishLaunching();
    void updateTrayIcon(bool connected, bool active);
    void appearanceDidChange();
    void userDefaultsDidChange();
    void showWindow();
    void toggleAutostart();
    void quit();

Q_SIGNALS:
    // The tray icon now shows the image resource `name`.
    void trayImageChanged(const QString& name);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The tray image's resource name for a link state under an appearance.
    static const QString& trayImageName(bool connected, bool active, const QString& appearanceName);
    // The image resource `name` as a tray icon, decoded on first use; null
    // when the bundle has no readable image of that name.
    const QIcon& trayImage(const QString& name);

    Platform& platform_;
    const Bundle bundle_;
    Appearance& appearance_;
    std::ostream& out_;

    // Declared before the tray icon, which refers to it and goes first.
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> statusItem_;
    // Whether this platform can put the status item anywhere at all.
    bool trayCanAppear_ = false;
    QString shownTrayImage_;
    QHash<QString, QIcon> trayImages_;
    std::unique_ptr<AboutWindow> window_;
    QAction* startOnLoginMenuItem_ = nullptr;
    std::shared_ptr<Watch> watch_;
    // Last, so the subscriptions end before the watch they observe.
    std::vector<Cancellable> cancellables_;
};

} // namespace zt
