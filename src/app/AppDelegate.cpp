#include "app/AppDelegate.h"

#include "app/AboutWindow.h"
#include "app/Appearance.h"
#include "app/AutostartEntry.h"
#include "app/Bundle.h"
#include "app/FileManager.h"
#include "app/LaunchAgent.h"
#include "app/NotificationCenter.h"
#include "app/UserDefaults.h"
#include "app/UserDefaultsManager.h"
#include "link/Watch.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>

#include <system_error>

namespace zt {

namespace {

constexpr int trayPoints = 18;

// 18 x 18 points whatever the tray's slot size: a 1x and a 2x pixmap of
// that size, so the tray centres the glyph rather than stretching it, and
// it stays crisp on 2x panels.
QIcon trayIcon(const QImage& image)
{
    QIcon icon;
    for (const int scale : {1, 2}) {
        const int side = trayPoints * scale;
        QPixmap pixmap = QPixmap::fromImage(
            image.scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        pixmap.setDevicePixelRatio(scale);
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

AppDelegate::AppDelegate(Platform& platform, const Bundle& bundle, Appearance& appearance, std::ostream& out)
    : platform_(platform), bundle_(bundle), appearance_(appearance), out_(out)
{
    NotificationCenter::defaultCenter().addObserver(
        this, [this] { userDefaultsDidChange(); }, UserDefaultsManager::userDefaultsDidChangeNotification);
}

AppDelegate::~AppDelegate()
{
    NotificationCenter::defaultCenter().removeObserver(this);
}

QWidget* AppDelegate::window() const
{
    return window_.get();
}

const QString& AppDelegate::trayImageName(bool connected, bool active, const QString& appearanceName)
{
    // Chosen on every write from the watch: nothing is built for it.
    static const QString names[2][3] = {
        {QStringLiteral("unpaired"), QStringLiteral("paired-off"), QStringLiteral("paired-on")},
        {QStringLiteral("dark-unpaired"), QStringLiteral("dark-paired-off"), QStringLiteral("dark-paired-on")}};
    const int state = !connected ? 0 : active ? 2 : 1;
    // Only the dark appearance itself takes the plain (light) glyphs.
    return names[appearanceName == Appearance::darkAquaName ? 0 : 1][state];
}

void AppDelegate::applicationDidFinishLaunching()
{
    watch_ = Watch::create(platform_);

    statusItem_ = std::make_unique<QSystemTrayIcon>();
    // Without a tray of the platform's own (a StatusNotifier host on the
    // session bus) Qt falls back to the X11 tray protocol. Anywhere but on
    // X11 that can show nothing, and showing the item there only earns a
    // warning that the X11 signal Qt listens for does not exist.
    trayCanAppear_ = QSystemTrayIcon::isSystemTrayAvailable()
                     || QGuiApplication::platformName().compare(QLatin1String("xcb"), Qt::CaseInsensitive) == 0;
    shownTrayImage_.clear();
    updateTrayIcon(false, false);

    menu_ = std::make_unique<QMenu>();
    auto* about = new QAction(QStringLiteral("About"), menu_.get());
    about->setShortcut(QKeySequence(QStringLiteral("S")));
    connect(about, &QAction::triggered, this, &AppDelegate::showWindow);
    menu_->addAction(about);

    startOnLoginMenuItem_ = new QAction(QStringLiteral("Start on Login"), menu_.get());
    startOnLoginMenuItem_->setShortcut(QKeySequence(QStringLiteral("A")));
    startOnLoginMenuItem_->setCheckable(true);
    startOnLoginMenuItem_->setChecked(UserDefaults::standard().startOnLogin());
    // Qt flips a checkable item before it reports the click; the state is
    // toggleAutostart()'s to decide, and it keeps the old one on failure.
    connect(startOnLoginMenuItem_, &QAction::triggered, this, [this](bool checked) {
        startOnLoginMenuItem_->setChecked(!checked);
        toggleAutostart();
    });
    menu_->addAction(startOnLoginMenuItem_);

    menu_->addSeparator();
    auto* quitItem = new QAction(QStringLiteral("Quit"), menu_.get());
    quitItem->setShortcut(QKeySequence(QStringLiteral("Q")));
    connect(quitItem, &QAction::triggered, this, &AppDelegate::quit);
    menu_->addAction(quitItem);

    // An open tray menu takes the keyboard but does not look at its items'
    // shortcuts; the letters it shows work through eventFilter().
    menu_->installEventFilter(this);
    statusItem_->setContextMenu(menu_.get());
    // A plain click opens the menu too, not only the context click.
    connect(statusItem_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            menu_->popup(QCursor::pos());
    });

    cancellables_.push_back(watch_->connected.sink([this](bool connected) {
        updateTrayIcon(connected, watch_->active.get());
    }));

    connect(&appearance_, &Appearance::changed, this, &AppDelegate::appearanceDidChange, Qt::UniqueConnection);
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != menu_.get() || event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const QKeySequence pressed(key->keyCombination());
    for (QAction* item : menu_->actions()) {
        if (!item->isSeparator() && item->isEnabled() && item->shortcut() == pressed) {
            menu_->hide();
            item->trigger();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void AppDelegate::updateTrayIcon(bool connected, bool active)
{
    if (!statusItem_)
        return;
    const QString& name = trayImageName(connected, active, appearance_.name());
    // Setting the image on show again would only make the tray redraw it,
    // or export it anew over D-Bus, on every write from the watch.
    if (name == shownTrayImage_)
        return;
    const QIcon& icon = trayImage(name);
    if (icon.isNull())
        return;
    statusItem_->setIcon(icon);
    shownTrayImage_ = name;
    Q_EMIT trayImageChanged(name);
    // Shown with its first image: a tray slot without one is blank.
    if (trayCanAppear_)
        statusItem_->show();
}

const QIcon& AppDelegate::trayImage(const QString& name)
{
    // Decoded once: the bundle's resources do not change under a running
    // application, and a damaged one is not retried on every write.
    auto found = trayImages_.find(name);
    if (found == trayImages_.end()) {
        const auto path = bundle_.pathForImageResource(name);
        QImage image;
        found = trayImages_.insert(name, path && image.load(*path) ? trayIcon(image) : QIcon());
    }
    return *found;
}

void AppDelegate::appearanceDidChange()
{
    if (!watch_)
        return;
    updateTrayIcon(watch_->connected.get(), watch_->active.get());
}

void AppDelegate::userDefaultsDidChange()
{
    // Only meaningful once the watch exists; an early posting has nothing
    // to update.
    if (!watch_)
        return;
    watch_->cursorController().sensitivity = UserDefaultsManager::shared().sensitivity();
}

void AppDelegate::showWindow()
{
    if (!window_)
        window_ = std::make_unique<AboutWindow>(bundle_);
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void AppDelegate::toggleAutostart()
{
    const std::optional<QString> home = FileManager::homeDirectory();
    if (!home) {
        out_ << "Failed to create LaunchAgents directory: no home folder (HOME is not set and the account has none)"
             << std::endl;
        return;
    }
    const QString folder = LaunchAgent::folderPath(*home);
    const QString agent = LaunchAgent::filePath(*home);
    // What a Linux session reads at login: the agent alone starts nothing.
    const QString configDirectory = FileManager::configDirectory(*home);
    const QString entry = AutostartEntry::filePath(configDirectory);

    // A plain file standing at the folder's place counts as existing too.
    if (!QFileInfo::exists(folder)) {
        if (const std::error_code error = FileManager::createDirectory(folder)) {
            out_ << "Failed to create LaunchAgents directory: " << error.message() << std::endl;
            return;
        }
    }

    UserDefaults& defaults = UserDefaults::standard();
    const bool wasOn = defaults.startOnLogin();
    out_ << (wasOn ? "true" : "false") << std::endl;

    if (wasOn) {
        defaults.setStartOnLogin(false);
        if (startOnLoginMenuItem_)
            startOnLoginMenuItem_->setChecked(false);
        // Both files are tried; the first failure is the one reported.
        std::error_code failure;
        bool removed = false;
        for (const QString& file : {agent, entry}) {
            if (!FileManager::itemExists(file))
                continue;
            const std::error_code error = FileManager::removeItem(file);
            if (error && !failure)
                failure = error;
            removed = removed || !error;
        }
        if (failure)
            out_ << "Failed to remove launch agent: " << failure.message() << std::endl;
        else if (removed)
            out_ << "removed??" << std::endl;
        return;
    }

    if (const auto refusal = LaunchAgent::refusal(bundle_.nativeBundlePath())) {
        out_ << "Failed to create launch agent: " << *refusal << std::endl;
        return;
    }
    // The agent first: should the entry then fail, nothing starts at login,
    // as the setting, still off, says.
    std::error_code error = FileManager::writeAtomically(agent, LaunchAgent::fileText(bundle_.bundlePath()));
    if (!error)
        error = FileManager::createDirectory(AutostartEntry::folderPath(configDirectory));
    if (!error) {
        const QString program = LaunchAgent::programPath(bundle_.bundlePath());
        error = FileManager::writeAtomically(entry, AutostartEntry::fileText(program));
    }
    if (error) {
        out_ << "Failed to create launch agent: " << error.message() << std::endl;
        return;
    }
    out_ << "added??" << std::endl;
    defaults.setStartOnLogin(true);
    if (startOnLoginMenuItem_)
        startOnLoginMenuItem_->setChecked(true);
}

void AppDelegate::quit()
{
    QCoreApplication::quit();
}

} // namespace zt
