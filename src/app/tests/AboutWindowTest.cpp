#include "TestSupport.h"

#include "app/AboutWindow.h"
#include "app/AppDelegate.h"
#include "app/ContentView.h"
#include "link/testing/FakePlatform.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>

#include <gtest/gtest.h>

#include <sstream>

namespace zt::apptest {
namespace {

TEST(AboutWindowTest, MadeOnceCentredThenReusedWithItsFrame)
{
    Sandbox sandbox;
    TemporaryBundle bundle;
    testing::FakePlatform platform;
    FakeAppearance appearance;
    std::ostringstream out;
    AppDelegate delegate(platform, bundle.bundle(), appearance, out);
    delegate.applicationDidFinishLaunching();
    delegate.showWindow();
    delegate.showWindow();
    QWidget* window = delegate.window();
    ASSERT_NE(window, nullptr);
    int windows = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        windows += qobject_cast<AboutWindow*>(w) != nullptr;
    EXPECT_EQ(windows, 1);
    EXPECT_EQ(window->size(), QSize(400, 300));
    // Within the platform's frame margins of the screen's centre.
    const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE((window->geometry().center() - centre).manhattanLength(), 12);

    const QRect moved(40, 50, 520, 410);
    window->setGeometry(moved);
    EXPECT_TRUE(window->close());
    delegate.showWindow();
    EXPECT_EQ(delegate.window(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->geometry(), moved);

    // The next run finds the frame; a damaged one is passed over.
    AboutWindow nextRun(bundle.bundle());
    EXPECT_EQ(nextRun.geometry(), moved);
    UserDefaults::standard().setObject(QByteArray("\x01\xd9\xd0\xcb junk"), "Main Window");
    AboutWindow damaged(bundle.bundle());
    EXPECT_EQ(damaged.size(), QSize(400, 300));
}

TEST(AboutWindowTest, ContentKeepsItsFrameAndShowsOnlyATextVersion)
{
    const struct {
        const char* name;
        std::optional<QByteArray> info;
        QString line; // empty: no version row
    } cases[] = {
        {"string", TemporaryBundle::infoWithVersion("<string>1.0.0</string>"), "Version: 1.0.0"},
        {"markup", TemporaryBundle::infoWithVersion("<string>&lt;b&gt;2&lt;/b&gt;</string>"), "Version: <b>2</b>"},
        {"integer", TemporaryBundle::infoWithVersion("<integer>3</integer>"), ""},
        {"no key", TemporaryBundle::infoWithVersion("<string>1</string>").replace("Short", "Long"), ""},
        {"malformed", TemporaryBundle::infoWithVersion("<string>1.0").chopped(9), ""},
        {"no file", std::nullopt, ""},
    };
    for (const auto& c : cases) {
        TemporaryBundle bundle;
        bundle.addImage("AppIcon", Qt::red);
        if (c.info)
            bundle.addFile("Contents/Info.plist", *c.info);
        AboutWindow window(bundle.bundle());
        window.show();
        window.resize(900, 700);
        auto* content = window.findChild<ContentView*>();
        ASSERT_NE(content, nullptr);
        EXPECT_EQ(content->geometry(), QRect(300, 250, 300, 200)) << c.name;
        auto* icon = content->findChild<QLabel*>("icon");
        auto* title = content->findChild<QLabel*>("title");
        auto* version = content->findChild<QLabel*>("version");
        ASSERT_TRUE(icon && title) << c.name;
        EXPECT_EQ(icon->size(), QSize(50, 50));
        EXPECT_FALSE(icon->pixmap().isNull());
        EXPECT_EQ(title->text(), "ZimTorva Companion for macOS");
        EXPECT_GE(title->geometry().top() - icon->geometry().bottom(), 16);
        EXPECT_EQ(version ? version->text() : QString(), c.line) << c.name;
        if (version) {
            EXPECT_EQ(version->textFormat(), Qt::PlainText);
            EXPECT_GE(version->geometry().top() - title->geometry().bottom(), 16);
            EXPECT_GE(content->height() - version->geometry().bottom(), 16);
        }
    }
}

} // namespace
} // namespace zt::apptest
