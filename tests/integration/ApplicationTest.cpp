// The built application among real processes: a private X server with a
// tray (tint2), one private bus serving as system and session bus, the
// daemon double as a process driven through its console, a settings portal
// of the test's own, and a temporary home. The test plays the watch and
// the user, and looks at the screen.

#include "integration/ChildProcess.h"
#include "integration/FakePortal.h"
#include "integration/MotionModel.h"
#include "integration/PointerObserver.h"
#include "integration/ScreenInspector.h"
#include "integration/TrayHost.h"
#include "integration/UpdateBuilder.h"
#include "integration/WaitUntil.h"
#include "support/PrivateBus.h"
#include "support/XvfbServer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Pictures show in failure messages by size, not as the bytes of a QImage.
void PrintTo(const QImage& picture, std::ostream* out)
{
    *out << "QImage " << picture.width() << "x" << picture.height() << " #" << picture.cacheKey();
}

namespace zt::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const QString applicationPath = QStringLiteral(ZT_APPLICATION_PATH);
const QString fakeBluezPath = QStringLiteral(ZT_FAKE_BLUEZ_PATH);
const QString artifactDirectory = QStringLiteral(ZT_ARTIFACT_DIR);
const std::string applicationClass = "ZimtorvaCompanion";

const QString poweredOnLine = QStringLiteral("Bluetooth is powered on and ready to go!");
const QString readLine =
    QStringLiteral("Received read request for characteristic 613805B1-8DD4-4268-98AE-A6E72BF454AB");
constexpr Triple alongZ{0, 0, 9.81f};

// color-scheme values of the settings portal.
constexpr quint32 noPreference = 0;
constexpr quint32 prefersDark = 1;

// Environment variables of the machine's desktop session that would make
// the application look or behave differently from run to run.
const QStringList sessionVariables = {
    "QT_QPA_PLATFORMTHEME", "QT_STYLE_OVERRIDE", "QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS",
    "QT_ENABLE_HIGHDPI_SCALING", "QT_FONT_DPI", "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "WAYLAND_DISPLAY",
    "SESSION_MANAGER", "XDG_SESSION_TYPE", "GTK_THEME"};

void save(const QImage& picture, const QString& name)
{
    QDir().mkpath(artifactDirectory);
    EXPECT_TRUE(picture.save(artifactDirectory + QLatin1Char('/') + name, "PNG")) << name.toStdString();
}

bool isUniform(const QImage& picture)
{
    if (picture.isNull())
        return true;
    const QRgb first = picture.pixel(0, 0);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (picture.pixel(x, y) != first)
                return false;
    return true;
}

std::function<bool(const QString&)> is(const QString& text)
{
    return [text](const QString& line) { return line == text; };
}

std::function<bool(const QString&)> startsWith(const QString& prefix)
{
    return [prefix](const QString& line) { return line.startsWith(prefix); };
}

class Desktop : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        address = QString::fromStdString(bus.address());
        tray = std::make_unique<TrayHost>(xvfb.displayName());
        ASSERT_TRUE(tray->waitReady()) << tray->diagnostics().toStdString();
        screen = std::make_unique<ScreenInspector>(xvfb.displayName());
    }

    // A daemon of its own for each run of the application: the double keeps
    // the registrations of a client that has left the bus, where BlueZ
    // drops them, and would go on writing to the one that is gone.
    void startDaemon()
    {
        bluez.reset();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address);
        bluez = std::make_unique<ChildProcess>(QStringLiteral("fake-bluez"), fakeBluezPath, QStringList(), environment);
        ASSERT_TRUE(bluez->waitForLine(startsWith(QStringLiteral("ready ")))) << bluez->diagnostics().toStdString();
    }

    QProcessEnvironment applicationEnvironment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const QString& name : sessionVariables)
            environment.remove(name);
        const QString runtime = home.filePath(QStringLiteral("runtime"));
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("DISPLAY"), QString::fromStdString(xvfb.displayName()));
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address);
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral(".config")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral(".local/share")));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral(".cache")));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        // libxkbcommon-x11 copies atom names out of X replies with strndup,
        // bounded and without a terminator, as strndup allows; AddressSanitizer's
        // strict string checks read the source on to a terminator anyway and
        // stop the application as it connects to the display. The last value
        // given for a flag wins.
        const QString sanitizer = environment.value(QStringLiteral("ASAN_OPTIONS"));
        if (!sanitizer.isEmpty())
            environment.insert(QStringLiteral("ASAN_OPTIONS"), sanitizer + QStringLiteral(":strict_string_checks=0"));
        return environment;
    }

    // Starts the application under a desktop that states `colorScheme` and
    // waits until it is registered with the daemon and shows its tray icon
    // in the colours of that scheme.
    void startApplication(quint32 colorScheme)
    {
        ASSERT_NO_FATAL_FAILURE(startDaemon());
        portal = std::make_unique<FakePortal>(address, colorScheme);
        ASSERT_TRUE(portal->start());
        const qsizetype daemonLines = bluez->lines().size();
        application = std::make_unique<ChildProcess>(QStringLiteral("application"), applicationPath, QStringList(),
                                                     applicationEnvironment());
        ASSERT_TRUE(application->started()) << application->diagnostics().toStdString();
        ASSERT_TRUE(application->waitForLine(is(poweredOnLine))) << application->diagnostics().toStdString();

        const auto registered = bluez->waitForLine(startsWith(QStringLiteral("application ")), daemonLines);
        ASSERT_TRUE(registered) << bluez->diagnostics().toStdString();
        const QStringList a = registered->split(QLatin1Char(' '));
        ASSERT_EQ(a.size(), 5) << registered->toStdString();
        EXPECT_EQ(a[3], QStringLiteral("613805b1-8dd4-4268-98ae-a6e72bf454ab"));
        EXPECT_EQ(a[4], QStringLiteral("read,write-without-response"));
        const auto advertised = bluez->waitForLine(startsWith(QStringLiteral("advertisement ")), daemonLines);
        ASSERT_TRUE(advertised) << bluez->diagnostics().toStdString();
        const QStringList b = advertised->split(QLatin1Char(' '));
        ASSERT_EQ(b.size(), 5) << advertised->toStdString();
        EXPECT_EQ(b[1], a[1]) << "registered by another connection";
        EXPECT_EQ(b[3], QStringLiteral("peripheral"));
        EXPECT_EQ(b[4], QStringLiteral("MyGATTServer"));

        ASSERT_TRUE(waitUntil([&] { return portal->reads() > 0; })) << "the application never asked the portal";
        ASSERT_TRUE(waitUntil([&] { return findTrayIcon(); })) << "no icon in the tray";
        ASSERT_FALSE(settledPicture(icon).isNull());
    }

    void stopApplication()
    {
        application.reset();
        portal.reset();
        ASSERT_TRUE(waitUntil([&] { return !findTrayIcon(); })) << "the tray kept the icon of an ended application";
    }

    // The application's window docked in the tray; sets `icon` to its place.
    bool findTrayIcon()
    {
        for (const ScreenInspector::Window& w : screen->windows()) {
            const bool inTray = std::find(w.ancestorClasses.begin(), w.ancestorClasses.end(), "Tint2") !=
                                w.ancestorClasses.end();
            if (inTray && w.viewable && w.wmClass == applicationClass && w.area.width > 1) {
                icon = w.area;
                return true;
            }
        }
        return false;
    }

    std::optional<ScreenInspector::Window> topLevelOfApplication(bool overrideRedirect)
    {
        for (const ScreenInspector::Window& w : screen->windows())
            if (w.topLevel && w.viewable && w.overrideRedirect == overrideRedirect && w.wmClass == applicationClass &&
                w.area.width > 20 && w.area.height > 20)
                return w;
        return std::nullopt;
    }

    // A picture of `area` once it is drawn and holds still: the same in two
    // grabs a little apart.
    QImage settledPicture(Rect area)
    {
        QImage last;
        Clock::time_point since = Clock::now();
        QImage settled;
        waitUntil([&] {
            const QImage now = screen->grab(area);
            if (isUniform(now) || now != last) {
                last = now;
                since = Clock::now();
                return false;
            }
            if (Clock::now() - since < 100ms)
                return false;
            settled = now;
            return true;
        });
        return settled;
    }

    // The picture of `area` once it is no longer `before`, settled.
    QImage pictureOtherThan(Rect area, const QImage& before)
    {
        if (!waitUntil([&] { return screen->grab(area) != before; }, 3s))
            return before;
        return settledPicture(area);
    }

    // The tray panel up to just past the icon, for the pictures kept.
    Rect trayArea() const
    {
        const Rect panel = tray->panel();
        return {panel.x, panel.y, icon.x + icon.width + 8 - panel.x, panel.height};
    }

    // Sends one console command to the daemon double and waits for its answer.
    QString command(const QString& line)
    {
        const qsizetype from = bluez->lines().size();
        bluez->send(line);
        return bluez->waitForLine(
                        [](const QString& l) {
                            return l == QLatin1String("ok") || l.startsWith(QLatin1String("error")) ||
                                   l.startsWith(QLatin1String("read"));
                        },
                        from)
            .value_or(QStringLiteral("(no answer)"));
    }

    QTemporaryDir home;
    PrivateBus bus;
    XvfbServer xvfb;
    QString address;
    std::unique_ptr<TrayHost> tray;
    std::unique_ptr<ScreenInspector> screen;
    std::unique_ptr<ChildProcess> bluez;
    std::unique_ptr<FakePortal> portal;
    std::unique_ptr<ChildProcess> application;
    Rect icon;
};

TEST_F(Desktop, TheApplicationTurnsWritesIntoPointerMovesAndShowsTheLink)
{
    ASSERT_NO_FATAL_FAILURE(startApplication(noPreference));
    const QImage before = settledPicture(icon);
    save(screen->grab(trayArea()), QStringLiteral("road-tray-before.png"));

    // The watch: settings and a pinch-tap with four frames, then three more.
    PointerObserver observer(xvfb.displayName(), Rect{0, 0, 1280, tray->panel().y});
    observer.warp(640, 360);
    MotionModel model(640, 360);
    const std::vector<UpdateBuilder> updates = {
        UpdateBuilder()
            .settings(0.5f, 0, ZimtorvaInfo::ACTIVE)
            .gesture(PINCH_TAP)
            .frame({0, 0.5f, 1}, alongZ)
            .frame({0, -0.25f, 0.5f}, alongZ)
            .frame({0.7f, 0.1f, -0.8f}, alongZ)
            .frame({0, 1, 1}, alongZ),
        UpdateBuilder().frame({0, 0.3f, -1}, alongZ).frame({0, 0.3f, -1}, alongZ).frame({0, -0.6f, 0.2f}, alongZ)};
    // The last write left the test no earlier than `lastSent` and reached
    // the application no later than `lastAnswered`.
    Clock::time_point lastSent;
    Clock::time_point lastAnswered;
    for (const UpdateBuilder& u : updates) {
        model.apply(u.update());
        lastSent = Clock::now();
        ASSERT_EQ(command(QStringLiteral("write ") + consoleHex(u.bytes())), QStringLiteral("ok"));
        lastAnswered = Clock::now();
        ASSERT_TRUE(waitUntil([&] { return observer.events().size() >= model.expected().size(); }, 5s))
            << "events so far: " << ::testing::PrintToString(observer.events());
    }
    EXPECT_EQ(observer.events(), model.expected());

    const QImage connected = pictureOtherThan(icon, before);
    save(screen->grab(trayArea()), QStringLiteral("road-tray-connected.png"));
    EXPECT_NE(connected, before) << "the tray did not show the connection";

    // One second after the last write the link is gone again.
    ASSERT_TRUE(waitUntil([&] { return screen->grab(icon) == before; }, 5s)) << "the tray kept showing a link";
    const auto fell = Clock::now();
    EXPECT_GE(fell - lastSent, 1000ms);
    EXPECT_LT(fell - lastAnswered, 2000ms);
    waitUntil([&] { return Clock::now() - lastAnswered >= 1500ms; });
    const QImage after = settledPicture(icon);
    save(screen->grab(trayArea()), QStringLiteral("road-tray-after-timeout.png"));
    EXPECT_EQ(after, before);

    EXPECT_EQ(command(QStringLiteral("read")), QStringLiteral("read 48656c6c6f2c2043656e7472616c21"));
    EXPECT_TRUE(application->waitForLine(is(readLine))) << application->diagnostics().toStdString();

    // The user opens About from the tray icon's menu.
    screen->click(icon.x + icon.width / 2, icon.y + icon.height / 2, 3);
    std::optional<ScreenInspector::Window> menu;
    ASSERT_TRUE(waitUntil([&] { return (menu = topLevelOfApplication(true)).has_value(); }))
        << "no menu from the tray icon";
    save(settledPicture(menu->area), QStringLiteral("tray-menu.png"));
    // The first item, "About", is the top row of the menu.
    screen->click(menu->area.x + menu->area.width / 3, menu->area.y + 12, 1);
    std::optional<ScreenInspector::Window> about;
    ASSERT_TRUE(waitUntil([&] { return (about = topLevelOfApplication(false)).has_value(); }))
        << "no About window";
    const QImage aboutPicture = settledPicture(about->area);
    save(aboutPicture, QStringLiteral("about.png"));
    EXPECT_EQ(about->area.width, 400);
    EXPECT_EQ(about->area.height, 300);
    EXPECT_FALSE(isUniform(aboutPicture));

    EXPECT_TRUE(application->running()) << application->diagnostics().toStdString();
    EXPECT_EQ(application->lines(), (QStringList{poweredOnLine, readLine}));
}

struct SchemePictures {
    QImage unpaired;
    QImage pairedOn;
    QImage pairedOff;
};

TEST_F(Desktop, TrayPicturesFollowTheLinkAndTheColourScheme)
{
    const struct {
        const char* name;
        quint32 colorScheme;
    } schemes[] = {{"light", noPreference}, {"dark", prefersDark}};

    std::vector<SchemePictures> pictures;
    for (const auto& scheme : schemes) {
        SCOPED_TRACE(scheme.name);
        ASSERT_NO_FATAL_FAILURE(startApplication(scheme.colorScheme));
        const QString prefix = QStringLiteral("tray-%1-").arg(QLatin1String(scheme.name));
        SchemePictures p;
        p.unpaired = settledPicture(icon);
        save(screen->grab(trayArea()), prefix + QStringLiteral("unpaired.png"));

        // Zero bytes: an Update with nothing in it still makes a link, and
        // the cursor is active as it starts.
        ASSERT_EQ(command(QStringLiteral("write -")), QStringLiteral("ok"));
        p.pairedOn = pictureOtherThan(icon, p.unpaired);
        save(screen->grab(trayArea()), prefix + QStringLiteral("paired-on.png"));

        const QByteArray inactive = UpdateBuilder().settings(1, 0, ZimtorvaInfo::INACTIVE).bytes();
        ASSERT_EQ(command(QStringLiteral("write ") + consoleHex(inactive)), QStringLiteral("ok"));
        p.pairedOff = pictureOtherThan(icon, p.pairedOn);
        save(screen->grab(trayArea()), prefix + QStringLiteral("paired-off.png"));

        EXPECT_NE(p.pairedOn, p.unpaired);
        EXPECT_NE(p.pairedOff, p.unpaired);
        EXPECT_NE(p.pairedOff, p.pairedOn);
        EXPECT_TRUE(application->running()) << application->diagnostics().toStdString();
        pictures.push_back(p);
        ASSERT_NO_FATAL_FAILURE(stopApplication());
    }
    EXPECT_NE(pictures[0].unpaired, pictures[1].unpaired);
    EXPECT_NE(pictures[0].pairedOn, pictures[1].pairedOn);
    EXPECT_NE(pictures[0].pairedOff, pictures[1].pairedOff);
}

} // namespace
} // namespace zt::test
