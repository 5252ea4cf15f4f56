#include "app/AppDelegate.h"

#include "app/AboutWindow.h"
#include "app/Appearance.h"
#include "app/Bundle.h"
#include "app/LaunchAgent.h"
#include "app/NotificationCenter.h"
#include "app/UserDefaults.h"
#include "app/UserDefaultsManager.h"
#include "link/Watch.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QImage>
#include <QKeySequence>
#include <QMenu>
#include <QPixmap>
#include <QSaveFile>
#include <QSystemTrayIcon>

#include <filesystem>
#include <system_error>

namespace zt {

namespace {

constexpr int trayPoints = 18;

std::filesystem::path fsPath(const QString& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

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

QString AppDelegate::trayImageName(bool connected, bool active, const QString& appearanceName)
{
    const QString base = !connected ? QStringLiteral("unpaired")
                         : active   ? QStringLiteral("paired-on")
                                    : QStringLiteral("paired-off");
    // Only the dark appearance itself takes the plain (light) glyphs.
    return appearanceName == Appearance::darkAquaName ? base : QStringLiteral("dark-") + base;
}

void AppDelegate::applicationDidFinishLaunching()
{
    watch_ = Watch::create(platform_);

    statusItem_ = std::make_unique<QSystemTrayIcon>();
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
    const auto path = bundle_.pathForImageResource(trayImageName(connected, active, appearance_.name()));
    QImage image;
    if (!path || !image.load(*path))
        return;
    statusItem_->setIcon(trayIcon(image));
    // Shown with its first image: a tray slot without one is blank.
    statusItem_->show();
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
    const QString home = QDir::homePath();
    const QString folder = LaunchAgent::folderPath(home);
    const QString file = LaunchAgent::filePath(home);

    // A plain file standing at the folder's place counts as existing too.
    if (!QFileInfo::exists(folder)) {
        std::error_code error;
        std::filesystem::create_directories(fsPath(folder), error);
        if (error) {
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
        if (QFileInfo::exists(file)) {
            std::error_code error;
            std::filesystem::remove(fsPath(file), error);
            if (error)
                out_ << "Failed to remove launch agent: " << error.message() << std::endl;
            else
                out_ << "removed??" << std::endl;
        }
        return;
    }

    QSaveFile agent(file);
    const QByteArray text = LaunchAgent::fileText(bundle_.bundlePath());
    if (!agent.open(QIODevice::WriteOnly) || agent.write(text) != text.size() || !agent.commit()) {
        out_ << "Failed to create launch agent: " << agent.errorString().toStdString() << std::endl;
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
