#include "TestSupport.h"

#include "app/AppDelegate.h"
#include "app/NotificationCenter.h"
#include "link/Watch.h"
#include "link/testing/FakePlatform.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace zt::apptest {
namespace {

const std::map<QString, QColor> imageColours = {
    {"unpaired", QColor(200, 0, 0)},         {"paired-on", QColor(0, 200, 0)},
    {"paired-off", QColor(0, 0, 200)},       {"dark-unpaired", QColor(200, 200, 0)},
    {"dark-paired-on", QColor(0, 200, 200)}, {"dark-paired-off", QColor(200, 0, 200)},
};

class AppDelegateTest : public ::testing::Test {
protected:
    void launch(const TemporaryBundle& from)
    {
        delegate = std::make_unique<AppDelegate>(platform, from.bundle(), appearance, out);
        delegate->applicationDidFinishLaunching();
    }
    // The image on show, by name; empty when there is none.
    QString shownImage() const
    {
        const QIcon icon = delegate->statusItem()->icon();
        const QColor colour = icon.isNull() ? QColor() : icon.pixmap(QSize(18, 18)).toImage().pixelColor(9, 9);
        for (const auto& [name, expected] : imageColours)
            if (colour == expected)
                return name;
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
        const QList<QAction*> items = delegate->statusItem()->contextMenu()->actions();
        ASSERT_EQ(items.size(), 4);
        const QStringList titles{"About", "Start on Login", "", "Quit"}, keys{"S", "A", "", "Q"};
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(items[i]->text(), titles[i]);
            EXPECT_EQ(items[i]->shortcut().toString(), keys[i]);
            EXPECT_EQ(items[i]->isSeparator(), i == 2);
        }
        EXPECT_EQ(items[1], delegate->startOnLoginMenuItem());
        EXPECT_EQ(items[1]->isChecked(), on) << stored.toString().toStdString();
    }
    EXPECT_EQ(delegate->window(), nullptr);
    EXPECT_EQ(out.str(), "");
}

TEST_F(AppDelegateTest, TrayImageForEveryLinkStateAndAppearance)
{
    for (const auto& [name, colour] : imageColours)
        bundle.addImage(name, colour);
    launch(bundle);
    EXPECT_EQ(shownImage(), "dark-unpaired");
    EXPECT_EQ(delegate->statusItem()->icon().actualSize(QSize(64, 64)), QSize(18, 18));

    const QString dark = "NSAppearanceNameDarkAqua", light = "NSAppearanceNameAqua";
    const struct {
        bool connected, active;
        QString appearance, image;
    } cases[] = {
        {false, false, dark, "unpaired"},       {false, true, dark, "unpaired"},
        {true, true, dark, "paired-on"},        {true, false, dark, "paired-off"},
        {false, true, light, "dark-unpaired"},  {true, true, light, "dark-paired-on"},
        {true, false, light, "dark-paired-off"}, {true, true, "NSAppearanceNameVibrantDark", "dark-paired-on"},
        {true, true, dark + " ", "dark-paired-on"},
    };
    for (const auto& c : cases) {
        appearance.current = c.appearance;
        delegate->watch()->active = c.active;
        delegate->watch()->connected = c.connected;
        EXPECT_EQ(shownImage(), c.image) << c.connected << c.active << c.appearance.toStdString();
    }
}

TEST_F(AppDelegateTest, RedrawsOnEveryConnectedAssignmentOrAnnouncedAppearance)
{
    for (const auto& [name, colour] : imageColours)
        bundle.addImage(name, colour);
    launch(bundle);
    Watch& watch = *delegate->watch();
    watch.connected = true;
    watch.active = false;
    appearance.current = Appearance::darkAquaName;
    EXPECT_EQ(shownImage(), "dark-paired-on");
    watch.connected = true;
    EXPECT_EQ(shownImage(), "paired-off");
    watch.active = true;
    appearance.current = Appearance::aquaName;
    appearance.announce();
    EXPECT_EQ(shownImage(), "dark-paired-on");
}

TEST_F(AppDelegateTest, UnusableImageKeepsThePreviousOne)
{
    for (const auto& [name, colour] : imageColours)
        bundle.addImage(name, colour);
    QFile::remove(bundle.path() + "/Contents/Resources/dark-paired-on.png");
    bundle.addFile("Contents/Resources/dark-paired-off.png", "not a png");
    launch(bundle);
    delegate->watch()->connected = true;
    EXPECT_EQ(shownImage(), "dark-unpaired");
    delegate->watch()->active = false;
    delegate->watch()->connected = true;
    EXPECT_EQ(shownImage(), "dark-unpaired");

    TemporaryBundle empty;
    launch(empty);
    EXPECT_TRUE(delegate->statusItem()->icon().isNull());
}

TEST_F(AppDelegateTest, SettingsNotificationCopiesSensitivityFromAnySender)
{
    delegate = std::make_unique<AppDelegate>(platform, bundle.bundle(), appearance, out);
    // Before launch there is no pointer to set; nothing may break.
    NotificationCenter::defaultCenter().post("UserDefaultsDidChangeNotification");
    delegate->applicationDidFinishLaunching();
    const int sender = 0;
    for (const auto& [stored, expected] : std::vector<std::pair<QVariant, double>>{
             {QVariant(), 0.0}, {2.5, 2.5}, {" -0.25 ", -0.25}, {"fast", 0.0}, {"nan", 0.0}, {"inf", 0.0}, {true, 0.0}}) {
        if (stored.isValid())
            UserDefaults::standard().setObject(stored, "sensitivity");
        else
            UserDefaults::standard().removeObject("sensitivity");
        delegate->watch()->cursorController().sensitivity = 7.0;
        NotificationCenter::defaultCenter().post("UserDefaultsDidChangeNotification", &sender);
        EXPECT_EQ(delegate->watch()->cursorController().sensitivity, expected) << stored.toString().toStdString();
    }
    delegate.reset();
    // A dangling observer would be called here.
    NotificationCenter::defaultCenter().post("UserDefaultsDidChangeNotification");
}

TEST(NotificationCenterTest, FiltersBySenderAndToleratesRemovalDuringDelivery)
{
    NotificationCenter center;
    const int a = 0, b = 0, x = 0, y = 0;
    std::vector<std::string> calls;
    center.addObserver(&a, [&] { calls.push_back("a-any"); }, "N");
    center.addObserver(&a, [&] { calls.push_back("a-x"); }, "N", &x);
    center.addObserver(&b, [&] { calls.push_back("b"); center.removeObserver(&a); }, "N");
    center.post("N", &x);
    center.post("N", &y);
    center.post("n");
    EXPECT_EQ(calls, (std::vector<std::string>{"a-any", "a-x", "b", "b"}));
}

TEST_F(AppDelegateTest, MenuClicksAndShownLettersReachTheActions)
{
    launch(bundle);
    QMenu* menu = delegate->statusItem()->contextMenu();
    QTest::keyClick(menu, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(delegate->window(), nullptr);
    QTest::keyClick(menu, Qt::Key_S);
    ASSERT_NE(delegate->window(), nullptr);
    QTest::keyClick(delegate->window(), Qt::Key_A); // typing in the window is not the menu
    EXPECT_EQ(out.str(), "");

    // A failed switch leaves the item as it was, though Qt flips it on click.
    QFile(sandbox.home() + "/Library").open(QIODevice::WriteOnly);
    delegate->startOnLoginMenuItem()->trigger();
    EXPECT_FALSE(delegate->startOnLoginMenuItem()->isChecked());
    QFile::remove(sandbox.home() + "/Library");
    QTest::keyClick(menu, Qt::Key_A);
    EXPECT_TRUE(delegate->startOnLoginMenuItem()->isChecked());
    EXPECT_EQ(out.str().substr(out.str().find('\n') + 1), "false\nadded??\n");

    // Quit ends the event loop with the About window open; the guard fails
    // a quit that never comes.
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    guard.start(10000);
    QTimer::singleShot(0, menu->actions()[3], &QAction::trigger);
    EXPECT_EQ(QApplication::exec(), 0);
}

} // namespace
} // namespace zt::apptest
