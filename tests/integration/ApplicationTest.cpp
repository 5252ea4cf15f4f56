// The built application among real processes: a private X server with a tray
// (tint2), one private bus as system and session bus, the daemon double as a
// process driven through its console, a settings portal of the test's own and
// a temporary home. The test plays the watch and the user and looks at the screen.

#include "integration/MotionModel.h"
#include "integration/ScreenInspector.h"
#include "integration/UpdateBuilder.h"
#include "integration/WaitUntil.h"
#include "support/ApplicationEnvironment.h"
#include "support/ChildProcess.h"
#include "support/PrivateBus.h"
#include "support/XvfbServer.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
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
using WindowTest = std::function<bool(const ScreenInspector::Window&)>;

const std::string poweredOnLine = "Bluetooth is powered on and ready to go!";
const std::string readLine = "Received read request for characteristic 613805B1-8DD4-4268-98AE-A6E72BF454AB";
constexpr Triple alongZ{0, 0, 9.81f};
// color-scheme values of the settings portal.
constexpr quint32 noPreference = 0;
constexpr quint32 prefersDark = 1;

// tint2 with a panel along the bottom of the screen holding nothing but the
// tray, on plain grey: pictures of it depend only on the icons in it.
const char* const trayConfiguration = R"(background_color = #808080 100
panel_items = S
panel_size = 100% 32
panel_padding = 4 0 4
panel_background_id = 1
panel_position = bottom left horizontal
panel_layer = top
strut_policy = none
disable_transparency = 1
mouse_effects = 0
systray_padding = 4 4 4
systray_background_id = 0
systray_sort = left2right
systray_icon_size = 24
systray_monitor = 1
)";

void save(const QImage& picture, const QString& name)
{
    QDir().mkpath(QStringLiteral(ZT_ARTIFACT_DIR));
    EXPECT_TRUE(picture.save(QStringLiteral(ZT_ARTIFACT_DIR "/") + name, "PNG")) << name.toStdString();
}

bool isUniform(const QImage& picture)
{
    if (picture.isNull())
        return true;
    QImage uniform(picture.size(), picture.format());
    uniform.fill(picture.pixel(0, 0));
    return picture == uniform;
}

// The first line of `process` from index `from` on that starts with one of
// `prefixes`, while the event loop runs: the portal here must answer meanwhile.
std::optional<std::string> waitForLine(ChildProcess& process, std::initializer_list<std::string_view> prefixes,
                                       std::size_t from = 0)
{
    std::optional<std::string> found;
    waitUntil(
        [&] {
            const std::vector<std::string>& lines = process.lines();
            for (std::size_t i = from; i < lines.size() && !found; ++i)
                if (std::ranges::any_of(prefixes, [&](std::string_view p) { return lines[i].starts_with(p); }))
                    found = lines[i];
            return found || !process.running();
        },
        20s);
    return found;
}

QStringList words(const std::optional<std::string>& line)
{
    return QString::fromStdString(line.value_or("")).split(QLatin1Char(' '));
}

// The desktop's settings portal, knowing one setting: org.freedesktop.appearance
// color-scheme. Read answers as the portal does, the value wrapped in a
// variant twice; ReadOne wraps it once.
class FakePortal : public QDBusVirtualObject {
public:
    FakePortal(const std::string& address, quint32 colorScheme)
        : connection_(QDBusConnection::connectToBus(QString::fromStdString(address), QStringLiteral("portal"))),
          colorScheme_(colorScheme)
    {
    }
    ~FakePortal() override
    {
        connection_.unregisterObject(path);
        QDBusConnection::disconnectFromBus(connection_.name());
    }

    bool start()
    {
        return connection_.isConnected() && connection_.registerVirtualObject(path, this) &&
               connection_.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const bool read = message.member() == QLatin1String("Read");
        if (message.interface() != QLatin1String("org.freedesktop.portal.Settings") ||
            (!read && message.member() != QLatin1String("ReadOne")))
            return false;
        const QVariantList setting{QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme")};
        if (message.arguments() != setting)
            return false;
        ++reads;
        const QDBusVariant value(QVariant::fromValue(colorScheme_));
        connection.send(message.createReply(read ? QVariant::fromValue(QDBusVariant(QVariant::fromValue(value)))
                                                 : QVariant::fromValue(value)));
        return true;
    }

    QString introspect(const QString&) const override { return {}; }

    int reads = 0;

private:
    const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
    QDBusConnection connection_;
    quint32 colorScheme_;
};

class Desktop : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        // Without a window manager, tint2 waits about fifteen seconds to show its panel.
        screen.announceWindowManager();
        const std::string config = home.filePath(QStringLiteral("tint2rc")).toStdString();
        std::ofstream(config) << trayConfiguration;
        tray = std::make_unique<ChildProcess>("tint2", std::vector<std::string>{"tint2", "-c", config},
                                              ChildProcess::Environment{{"DISPLAY", xvfb.displayName()},
                                                                        {"HOME", home.path().toStdString()},
                                                                        {"XDG_CONFIG_HOME", ""}});
        ASSERT_TRUE(waitUntil(
            [&] {
                for (const ScreenInspector::Window& w : screen.windows())
                    if (w.topLevel && w.viewable && w.wmClass == "Tint2" &&
                        screen.selectionOwned("_NET_SYSTEM_TRAY_S0"))
                        panel = w.area;
                return panel.height > 0;
            },
            20s))
            << tray->diagnostics();
    }

    ChildProcess::Environment applicationEnvironment() const
    {
        return zt::test::applicationEnvironment(
            {xvfb.displayName(), bus.address(), bus.address(), home.path().toStdString()});
    }

    // Starts the application (and a daemon of its own) under a desktop that states
    // `colorScheme`; waits until it is registered and shows its tray icon.
    void startApplication(quint32 colorScheme)
    {
        bluez.reset();
        bluez = std::make_unique<ChildProcess>("fake-bluez", std::vector<std::string>{ZT_FAKE_BLUEZ_PATH},
                                               ChildProcess::Environment{{"DBUS_SYSTEM_BUS_ADDRESS", bus.address()}});
        ASSERT_TRUE(waitForLine(*bluez, {"ready "})) << bluez->diagnostics();
        portal.reset();
        portal = std::make_unique<FakePortal>(bus.address(), colorScheme);
        ASSERT_TRUE(portal->start());
        application = std::make_unique<ChildProcess>(
            "application", std::vector<std::string>{ZT_APPLICATION_PATH}, applicationEnvironment());
        ASSERT_TRUE(waitForLine(*application, {poweredOnLine})) << application->diagnostics();

        const QStringList a = words(waitForLine(*bluez, {"application "}));
        ASSERT_EQ(a.size(), 5) << bluez->diagnostics();
        EXPECT_EQ(a[3], QStringLiteral("613805b1-8dd4-4268-98ae-a6e72bf454ab"));
        EXPECT_EQ(a[4], QStringLiteral("read,write-without-response"));
        const QStringList b = words(waitForLine(*bluez, {"advertisement "}));
        ASSERT_EQ(b.size(), 5) << bluez->diagnostics();
        EXPECT_EQ(b[1], a[1]) << "registered by another connection";
        EXPECT_EQ(b[3], QStringLiteral("peripheral"));
        EXPECT_EQ(b[4], QStringLiteral("MyGATTServer"));

        ASSERT_TRUE(waitUntil([&] { return portal->reads > 0; })) << "the application never asked the portal";
        ASSERT_TRUE(waitUntil([&] { return findTrayIcon(); })) << "no icon in the tray";
        ASSERT_FALSE(settledPicture(icon).isNull());
    }

    std::optional<ScreenInspector::Window> findWindow(const WindowTest& matches)
    {
        for (const ScreenInspector::Window& w : screen.windows())
            if (w.viewable && w.wmClass == "ZimtorvaCompanion" && matches(w))
                return w;
        return std::nullopt;
    }

    // The application's window docked in the tray; sets `icon` to its place.
    bool findTrayIcon()
    {
        const auto found = findWindow([](const ScreenInspector::Window& w) {
            return w.area.width > 1 && std::ranges::count(w.ancestorClasses, "Tint2") > 0;
        });
        icon = found ? found->area : Rect{};
        return found.has_value();
    }

    // A picture of `area` once it is drawn and holds still for 100 ms.
    QImage settledPicture(Rect area)
    {
        QImage last;
        Clock::time_point since = Clock::now();
        waitUntil([&] {
            const QImage now = screen.grab(area);
            if (isUniform(now) || now != last) {
                last = now;
                since = Clock::now();
            }
            return !isUniform(last) && Clock::now() - since >= 100ms;
        });
        return isUniform(last) ? QImage() : last;
    }

    // The picture of `area` once it is no longer `before`, settled.
    QImage pictureOtherThan(Rect area, const QImage& before)
    {
        return waitUntil([&] { return screen.grab(area) != before; }, 3s) ? settledPicture(area) : before;
    }

    // The tray panel up to just past the icon, for the pictures kept.
    void saveTray(const QString& name)
    {
        save(screen.grab({panel.x, panel.y, icon.x + icon.width + 8 - panel.x, panel.height}), name);
    }

    // One console command to the daemon double, and its answer.
    std::string command(const std::string& line)
    {
        const std::size_t from = bluez->lines().size();
        bluez->send(line);
        return waitForLine(*bluez, {"ok", "error", "read"}, from).value_or("(no answer)");
    }

    std::string write(const QByteArray& bytes)
    {
        return command("write " + (bytes.isEmpty() ? std::string("-") : bytes.toHex().toStdString()));
    }

    QTemporaryDir home;
    PrivateBus bus;
    XvfbServer xvfb;
    ScreenInspector screen{xvfb.displayName()};
    std::unique_ptr<ChildProcess> tray;
    Rect panel;
    std::unique_ptr<ChildProcess> bluez;
    std::unique_ptr<FakePortal> portal;
    std::unique_ptr<ChildProcess> application;
    Rect icon;
};

TEST_F(Desktop, TheApplicationTurnsWritesIntoPointerMovesAndShowsTheLink)
{
    ASSERT_NO_FATAL_FAILURE(startApplication(noPreference));
    const QImage before = settledPicture(icon);

    // The watch: settings and a pinch-tap with four frames, then three more.
    screen.watchPointer({0, 0, 1280, panel.y});
    screen.warp(640, 360);
    MotionModel model(640, 360);
    const std::vector<UpdateBuilder> updates = {
        UpdateBuilder()
            .settings(0.5f, 0, ZimtorvaInfo::ACTIVE)
            .gesture(PINCH_TAP)
            .frame({0, 0.5f, 1}, alongZ)
            .frame({0, -0.25f, 0.5f}, alongZ)
            .frame({0.7f, 0.1f, -0.8f}, alongZ)
            .frame({0, 1, 1}, alongZ),
        UpdateBuilder().frame({0, 0.3f, -1}, alongZ, 2).frame({0, -0.6f, 0.2f}, alongZ)};
    // The last write left no earlier than `lastSent`, arrived no later than `lastAnswered`.
    Clock::time_point lastSent;
    Clock::time_point lastAnswered;
    for (const UpdateBuilder& u : updates) {
        model.apply(u.update());
        lastSent = Clock::now();
        ASSERT_EQ(write(u.bytes()), "ok");
        lastAnswered = Clock::now();
        ASSERT_TRUE(waitUntil([&] { return screen.pointerEvents().size() >= model.expected().size(); }, 5s))
            << "events so far: " << ::testing::PrintToString(screen.pointerEvents());
    }
    EXPECT_EQ(screen.pointerEvents(), model.expected());
    EXPECT_NE(pictureOtherThan(icon, before), before) << "the tray did not show the connection";

    // One second after the last write the link is gone again.
    ASSERT_TRUE(waitUntil([&] { return screen.grab(icon) == before; }, 5s)) << "the tray kept showing a link";
    EXPECT_GE(Clock::now() - lastSent, 1000ms);
    EXPECT_LT(Clock::now() - lastAnswered, 2000ms);
    waitUntil([&] { return Clock::now() - lastAnswered >= 1500ms; });
    EXPECT_EQ(settledPicture(icon), before);

    EXPECT_EQ(command("read"), "read 48656c6c6f2c2043656e7472616c21");
    EXPECT_TRUE(waitForLine(*application, {readLine})) << application->diagnostics();

    // The user opens About, the first item and top row of the tray icon's menu.
    std::optional<ScreenInspector::Window> window;
    const auto topLevel = [&](bool menu) {
        return waitUntil([&] {
            return (window = findWindow([&](const ScreenInspector::Window& w) {
                        return w.topLevel && w.overrideRedirect == menu && w.area.width > 20 && w.area.height > 20;
                    })).has_value();
        });
    };
    screen.click(icon.x + icon.width / 2, icon.y + icon.height / 2, 3);
    ASSERT_TRUE(topLevel(true)) << "no menu from the tray icon";
    screen.click(window->area.x + window->area.width / 3, window->area.y + 12, 1);
    ASSERT_TRUE(topLevel(false)) << "no About window";
    const QImage about = settledPicture(window->area);
    save(about, QStringLiteral("about.png"));
    EXPECT_EQ(window->area.width, 400);
    EXPECT_EQ(window->area.height, 300);
    EXPECT_FALSE(isUniform(about));

    EXPECT_TRUE(application->running()) << application->diagnostics();
    EXPECT_EQ(application->lines(), (std::vector<std::string>{poweredOnLine, readLine}));
}

TEST_F(Desktop, TrayPicturesFollowTheLinkAndTheColourScheme)
{
    // Per scheme: unpaired, paired with the cursor on, paired with it off.
    std::vector<std::vector<QImage>> pictures;
    for (const auto& [name, colorScheme] : {std::pair{"light", noPreference}, std::pair{"dark", prefersDark}}) {
        SCOPED_TRACE(name);
        ASSERT_NO_FATAL_FAILURE(startApplication(colorScheme));
        const QString prefix = QStringLiteral("tray-%1-").arg(QLatin1String(name));
        std::vector<QImage>& p = pictures.emplace_back(1, settledPicture(icon));
        saveTray(prefix + QStringLiteral("unpaired.png"));
        // Zero bytes: an Update with nothing in it still makes a link, and
        // the cursor is active as it starts.
        ASSERT_EQ(write({}), "ok");
        p.push_back(pictureOtherThan(icon, p[0]));
        saveTray(prefix + QStringLiteral("paired-on.png"));
        ASSERT_EQ(write(UpdateBuilder().settings(1, 0, ZimtorvaInfo::INACTIVE).bytes()), "ok");
        p.push_back(pictureOtherThan(icon, p[1]));
        saveTray(prefix + QStringLiteral("paired-off.png"));

        EXPECT_NE(p[1], p[0]);
        EXPECT_NE(p[2], p[0]);
        EXPECT_NE(p[2], p[1]);
        EXPECT_TRUE(application->running()) << application->diagnostics();
        application.reset();
        ASSERT_TRUE(waitUntil([&] { return !findTrayIcon(); })) << "the tray kept the icon of an ended application";
    }
    for (int i = 0; i < 3; ++i)
        EXPECT_NE(pictures[0][i], pictures[1][i]) << "picture " << i;
}

// Quitting from the menu with writes streaming in and moves pending ends the
// process at once and cleanly: status 0, and in the sanitizer build nothing
// leaked (LeakSanitizer would change the status).
TEST_F(Desktop, QuitFromTheTrayWhileWritesStreamInEndsWithStatusZero)
{
    ASSERT_NO_FATAL_FAILURE(startApplication(noPreference));
    // Half a second of moves per write; sensitivity 0 keeps the pointer on
    // the menu while they run.
    const UpdateBuilder update = UpdateBuilder().settings(0, 0.2f, ZimtorvaInfo::ACTIVE).frame({0, 1, 1}, alongZ, 50);
    const std::string busy = "write " + update.bytes().toHex().toStdString();
    const auto stream = [&](int writes) {
        for (int i = 0; i < writes; ++i)
            bluez->send(busy);
    };
    stream(20);
    ASSERT_EQ(command(busy), "ok");

    std::optional<ScreenInspector::Window> menu;
    screen.click(icon.x + icon.width / 2, icon.y + icon.height / 2, 3);
    ASSERT_TRUE(waitUntil([&] {
        return (menu = findWindow([](const ScreenInspector::Window& w) {
                    return w.topLevel && w.overrideRedirect && w.area.width > 20 && w.area.height > 20;
                })).has_value();
    })) << "no menu from the tray icon";
    stream(20);
    // "Quit" is the last row.
    screen.click(menu->area.x + menu->area.width / 3, menu->area.y + menu->area.height - 12, 1);
    const bool ended = waitUntil(
        [&] {
            stream(1);
            return !application->running();
        },
        20s);
    ASSERT_TRUE(ended) << "still running after Quit\n" << application->diagnostics();
    const std::optional<int> status = application->waitStatus();
    EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << application->diagnostics();
    EXPECT_EQ(application->lines(), std::vector<std::string>{poweredOnLine});
}

} // namespace
} // namespace zt::test

namespace zt::test {
namespace {

// Started where there is no display at all, the application runs headless
// and its user sees only the system's own lines: no warning of Qt's from a
// tray that cannot be shown.
TEST(Headless, AStartWithoutAnyDisplayPrintsOnlyTheSystemsOwnLines)
{
    PrivateBus bus;
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    ChildProcess bluez("fake-bluez", {ZT_FAKE_BLUEZ_PATH}, {{"DBUS_SYSTEM_BUS_ADDRESS", bus.address()}});
    ASSERT_TRUE(waitForLine(bluez, {"ready "})) << bluez.diagnostics();

    ChildProcess::Environment environment = applicationEnvironment(
        {.display = "", .systemBus = bus.address(), .sessionBus = bus.address(), .home = home.path().toStdString()});
    environment["QT_QPA_PLATFORM"] = "";
    ChildProcess application("application", {ZT_APPLICATION_PATH}, environment);
    ASSERT_TRUE(waitForLine(application, {poweredOnLine})) << application.diagnostics();
    ASSERT_TRUE(waitForLine(bluez, {"application "})) << bluez.diagnostics();
    // A write makes a link, and the tray image follows it.
    const std::size_t from = bluez.lines().size();
    bluez.send("write -");
    EXPECT_EQ(waitForLine(bluez, {"ok", "error"}, from), "ok");

    EXPECT_TRUE(application.running()) << application.diagnostics();
    application.stop();
    EXPECT_EQ(application.lines(), std::vector<std::string>{poweredOnLine});
    EXPECT_EQ(application.errors(), "");
}

} // namespace
} // namespace zt::test
