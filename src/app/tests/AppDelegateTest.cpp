#include "TestSupport.h"

#include "app/AboutWindow.h"
#include "app/AppDelegate.h"
#include "app/NotificationCenter.h"
#include "link/Watch.h"

namespace zt::apptest {
namespace {

const QStringList images = {"unpaired", "paired-on", "paired-off", "dark-unpaired", "dark-paired-on", "dark-paired-off"};

// One colour per image, so a test can tell which one is on show.
const auto colourOf = [](qsizetype image) { return QColor(QColor::fromHsv(int(image) * 50, 255, 200).rgb()); };

class AppDelegateTest : public ::testing::Test {
protected:
    void launch(const TemporaryBundle& from)
    {
        delegate = std::make_unique<AppDelegate>(platform, from.bundle(), appearance, out);
        delegate->applicationDidFinishLaunching();
    }
    QString shownImage() const
    {
        const QIcon icon = delegate->statusItem()->icon();
        const QColor colour = icon.isNull() ? QColor() : icon.pixmap(QSize(18, 18)).toImage().pixelColor(9, 9);
        for (qsizetype i = 0; i < images.size(); ++i)
            if (colour == colourOf(i))
                return images[i];
        return {};
    }

    Sandbox sandbox;
    TemporaryBundle bundle;
    testing::FakePlatform platform;
    FakeAppearance appearance;
    std::ostringstream out;
    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(AppDelegateTest, MenuItemsInOrderWithKeysAndStartOnLoginState)
{
    for (const auto& [stored, on] : std::vector<std::pair<QVariant, bool>>{
             {QVariant(), false}, {true, true}, {"YES", true}, {"0", false}, {"garbage", false}, {"nan", false}}) {
        if (stored.isValid())
            UserDefaults::standard().setObject(stored, "startOnLogin");
        launch(bundle);
        QStringList shown;
        for (const QAction* item : delegate->statusItem()->contextMenu()->actions())
            shown << item->text() + u'/' + item->shortcut().toString() + (item->isSeparator() ? "-" : "");
        EXPECT_EQ(shown.join(u','), "About/S,Start on Login/A,/-,Quit/Q");
        EXPECT_EQ(delegate->startOnLoginMenuItem()->isChecked(), on) << stored.toString().toStdString();
    }
}

TEST_F(AppDelegateTest, TrayImageFollowsConnectedAssignmentsAndAnnouncedAppearance)
{
    for (qsizetype i = 0; i < images.size(); ++i)
        bundle.addImage(images[i], colourOf(i));
    launch(bundle);
    EXPECT_EQ(shownImage(), "dark-unpaired");
    EXPECT_EQ(delegate->statusItem()->icon().actualSize(QSize(64, 64)), QSize(18, 18));

    enum By { assigning, announcing, neither };
    const QString dark = Appearance::darkAquaName, light = Appearance::aquaName;
    // Only a `connected` assignment, even of the same value, or an announced appearance redraws.
    const std::tuple<bool, bool, QString, By, QString> steps[] = {
        {false, false, dark, assigning, "unpaired"}, {false, true, dark, assigning, "unpaired"},
        {true, true, dark, assigning, "paired-on"}, {true, false, dark, assigning, "paired-off"},
        {true, true, light, neither, "paired-off"}, {true, true, light, assigning, "dark-paired-on"},
        {true, false, light, assigning, "dark-paired-off"}, {true, true, dark, announcing, "paired-on"},
        {true, true, "NSAppearanceNameVibrantDark", assigning, "dark-paired-on"},
        {true, true, dark + " ", assigning, "dark-paired-on"}, {false, true, light, assigning, "dark-unpaired"},
    };
    for (const auto& [connected, active, name, by, image] : steps) {
        appearance.current = name;
        delegate->watch()->active = active;
        if (by == assigning)
            delegate->watch()->connected = connected;
        else if (by == announcing)
            appearance.announce();
        EXPECT_EQ(shownImage(), image) << connected << active << name.toStdString() << by;
    }

    // A missing or unreadable image keeps the one on show; none at all leaves the icon empty.
    TemporaryBundle damaged;
    damaged.addImage("dark-unpaired", colourOf(3));
    write(damaged.path() + "/Contents/Resources/dark-paired-off.png", "not a png");
    launch(damaged);
    for (const bool active : {true, false}) {
        delegate->watch()->active = active;
        delegate->watch()->connected = true;
        EXPECT_EQ(shownImage(), "dark-unpaired") << active;
    }
    launch(TemporaryBundle());
    EXPECT_TRUE(delegate->statusItem()->icon().isNull());
}

TEST_F(AppDelegateTest, EachImageIsDecodedOnceAndSetOnlyWhenAnotherIsDue)
{
    for (qsizetype i = 0; i < images.size(); ++i)
        bundle.addImage(images[i], colourOf(i));
    launch(bundle);
    QSignalSpy set(delegate.get(), &AppDelegate::trayImageChanged);
    // Every write from the watch assigns `connected`; most change nothing.
    const std::tuple<bool, bool, QString> assignments[] = {
        {false, false, ""}, {true, true, "dark-paired-on"}, {true, true, ""}, {true, true, ""},
        {true, false, "dark-paired-off"}, {true, false, ""}, {false, true, "dark-unpaired"}, {false, false, ""},
    };
    for (const auto& [connected, active, newImage] : assignments) {
        const qsizetype before = set.count();
        delegate->watch()->active = active;
        delegate->watch()->connected = connected;
        EXPECT_EQ(set.count(), before + (newImage.isEmpty() ? 0 : 1)) << connected << active;
        EXPECT_EQ(set.count() > before ? set.last().at(0).toString() : QString(), newImage);
    }
    // New pictures on disk are not read again: each was decoded once.
    for (const QString& image : images)
        bundle.addImage(image, Qt::black);
    delegate->watch()->active = true;
    delegate->watch()->connected = true;
    EXPECT_EQ(shownImage(), "dark-paired-on");
}

TEST_F(AppDelegateTest, APlainClickOnTheIconOpensTheMenu)
{
    // Qt's own tray opens the context menu on a context click.
    for (const auto& [reason, opens] : {std::pair{QSystemTrayIcon::Trigger, true}, {QSystemTrayIcon::Context, false},
                                        {QSystemTrayIcon::MiddleClick, false}, {QSystemTrayIcon::DoubleClick, false}}) {
        launch(bundle);
        QMenu* menu = delegate->statusItem()->contextMenu();
        ASSERT_FALSE(menu->isVisible());
        Q_EMIT delegate->statusItem()->activated(reason);
        EXPECT_EQ(menu->isVisible(), opens) << reason;
        menu->hide();
    }
}

TEST_F(AppDelegateTest, SettingsNotificationCopiesSensitivityFromAnySender)
{
    delegate = std::make_unique<AppDelegate>(platform, bundle.bundle(), appearance, out);
    NotificationCenter::defaultCenter().post("UserDefaultsDidChangeNotification"); // before launch: no watch yet
    delegate->applicationDidFinishLaunching();
    const int sender = 0;
    for (const auto& [stored, expected] : std::vector<std::pair<QVariant, double>>{
             {QVariant(), 0.0}, {2.5, 2.5}, {" -0.25 ", -0.25}, {"fast", 0.0}, {"nan", 0.0}, {"inf", 0.0}, {true, 0.0}}) {
        if (stored.isValid()) // absent first, then present
            UserDefaults::standard().setObject(stored, "sensitivity");
        delegate->watch()->cursorController().sensitivity = 7.0;
        NotificationCenter::defaultCenter().post("UserDefaultsDidChangeNotification", &sender);
        EXPECT_EQ(delegate->watch()->cursorController().sensitivity, expected) << stored.toString().toStdString();
    }
    delegate.reset();
    NotificationCenter::defaultCenter().post("UserDefaultsDidChangeNotification"); // no dangling observer
}

TEST_F(AppDelegateTest, MenuLettersReachTheActionsAndAboutIsMadeOnce)
{
    launch(bundle);
    QMenu* menu = delegate->statusItem()->contextMenu();
    QTest::keyClick(menu, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(delegate->window(), nullptr);
    QTest::keyClick(menu, Qt::Key_S);
    QTest::keyClick(menu, Qt::Key_S);
    QWidget* window = delegate->window();
    ASSERT_NE(window, nullptr);
    const QWidgetList all = QApplication::topLevelWidgets();
    EXPECT_EQ(std::count_if(all.begin(), all.end(), [](QWidget* w) { return qobject_cast<AboutWindow*>(w); }), 1);
    EXPECT_EQ(window->size(), QSize(400, 300));
    const QRect moved(40, 50, 520, 410);
    window->setGeometry(moved);
    EXPECT_TRUE(window->close());
    delegate->showWindow();
    EXPECT_EQ(delegate->window(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->geometry(), moved);
    // The next run finds the frame; a damaged one is passed over.
    EXPECT_EQ(AboutWindow(bundle.bundle()).geometry(), moved);
    UserDefaults::standard().setObject(QByteArray("\x01\xd9\xd0\xcb junk"), "Main Window");
    EXPECT_EQ(AboutWindow(bundle.bundle()).size(), QSize(400, 300));

    QTest::keyClick(window, Qt::Key_A); // typing in the window is not the menu
    // A failed switch leaves the item as it was, though Qt flips it on click.
    QFile(sandbox.home.path() + "/Library").open(QIODevice::WriteOnly);
    delegate->startOnLoginMenuItem()->trigger();
    EXPECT_FALSE(delegate->startOnLoginMenuItem()->isChecked());
    QFile::remove(sandbox.home.path() + "/Library");
    QTest::keyClick(menu, Qt::Key_A);
    EXPECT_TRUE(delegate->startOnLoginMenuItem()->isChecked());
    EXPECT_EQ(out.str().substr(out.str().find('\n') + 1), "false\nadded??\n");

    // Quit ends the event loop with the About window open; the guard fails a quit that never comes.
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    guard.start(10000);
    QTimer::singleShot(0, menu->actions()[3], &QAction::trigger);
    EXPECT_EQ(QApplication::exec(), 0);
}

} // namespace
} // namespace zt::apptest
