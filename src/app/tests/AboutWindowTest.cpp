#include "TestSupport.h"

#include "app/AboutWindow.h"
#include "app/ContentView.h"
#include "app/LaunchAgent.h"

#include <functional>

namespace zt::apptest {
namespace {

TEST(AboutWindowTest, ContentKeepsItsFrameAndShowsOnlyATextVersion)
{
    const auto info = [](const QByteArray& version) -> QByteArray {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
               "    <key>CFBundleShortVersionString</key>\n    "
            + version + "\n</dict>\n</plist>\n";
    };
    QByteArray bomb = "<!DOCTYPE plist [<!ENTITY a \"" + QByteArray("x").repeated(64) + "\">";
    for (char level = 'b'; level <= 'f'; ++level)
        bomb += QByteArray("<!ENTITY ") + level + " \"" + (QByteArray("&") + char(level - 1) + ";").repeated(16) + "\">";
    const QByteArray deep = QByteArray("<array>").repeated(500) + QByteArray("</array>").repeated(500);
    // Each malformed file would show a version if it were read.
    const std::pair<std::optional<QByteArray>, QString> cases[] = { // empty line: no version row
        {info("<string>1.0.0</string>"), "Version: 1.0.0"},
        {info("<string>&lt;b&gt;2&lt;/b&gt;</string>"), "Version: <b>2</b>"},
        {info("<integer>3</integer>"), ""}, {info("<string>1</string>").replace("Short", "Long"), ""},
        {info("<string>1.0").chopped(9), ""}, {info("<string>1</string><key>k</key>"), ""}, {std::nullopt, ""},
        {info("<string>1</string><key>k</key><blob>1</blob>"), ""}, {info("<string>1<b/></string>"), ""},
        {info("<string>1</string><key>k</key><integer>12x</integer>"), ""}, {info("<string>1&undefined;</string>"), ""},
        {info("<string>1</string>") + "<plist/>", ""}, {info("<string>1</string><key>k</key>" + deep), ""},
        {info("<string>&f;</string>").replace("<plist", bomb + "]><plist"), ""},
    };
    for (const auto& [plist, line] : cases) {
        SCOPED_TRACE(plist.value_or("no file").toStdString());
        TemporaryBundle bundle;
        bundle.addImage("AppIcon", Qt::red);
        if (plist)
            write(bundle.path() + "/Contents/Info.plist", *plist);
        AboutWindow window(bundle.bundle());
        window.show();
        window.resize(900, 700);
        auto* content = window.findChild<ContentView*>();
        ASSERT_NE(content, nullptr);
        EXPECT_EQ(content->geometry(), QRect(300, 250, 300, 200)); // centred, its own size
        auto* icon = content->findChild<QLabel*>("icon");
        auto* title = content->findChild<QLabel*>("title");
        auto* version = content->findChild<QLabel*>("version");
        ASSERT_TRUE(icon && title);
        EXPECT_FALSE(icon->pixmap().isNull());
        EXPECT_EQ(icon->size(), QSize(50, 50));
        EXPECT_TRUE(icon->hasScaledContents()); // the 256-pixel picture fills the 50 x 50 frame
        EXPECT_EQ(title->text(), "ZimTorva Companion for macOS");
        EXPECT_EQ(version ? version->text() : QString(), line);
        if (version) {
            EXPECT_EQ(version->textFormat(), Qt::PlainText);
            EXPECT_GE(version->geometry().top() - title->geometry().bottom(), 16);
        }
    }
}

TEST(AboutWindowTest, OpensCentredAndKeepsItsFrameWhenMovedOrResizedWhileOpen)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    TemporaryBundle bundle;
    using Change = std::function<void(QWidget&)>;
    const std::pair<const char*, Change> changes[] = {
        {"moved", [](QWidget& w) { w.move(40, 50); }},
        {"resized", [](QWidget& w) { w.resize(500, 350); }},
        {"moved and resized", [](QWidget& w) { w.setGeometry(10, 20, 640, 480); }},
    };
    for (const auto& [name, change] : changes) {
        SCOPED_TRACE(name);
        Sandbox sandbox; // no frame kept yet
        AboutWindow window(bundle.bundle());
        window.show();
        EXPECT_EQ(window.size(), QSize(400, 300));
        // The frame the window manager adds aside.
        EXPECT_LE((window.geometry().center() - screen.center()).manhattanLength(), 8);
        change(window);
        // Kept while the window stays open, not only once it is closed.
        const auto kept = [&] { return UserDefaults::standard().object("Main Window").toByteArray(); };
        EXPECT_TRUE(QTest::qWaitFor([&] { return kept() == window.saveGeometry(); }, 5000));
        EXPECT_TRUE(window.isVisible());
        EXPECT_EQ(AboutWindow(bundle.bundle()).geometry(), window.geometry());
    }
}

TEST(BundleTest, BuiltInfoMatchesTheCodeAndResourcesStayInside)
{
    const Bundle built(QStringLiteral(ZT_BUILT_BUNDLE));
    const auto info = built.infoDictionary();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->value("CFBundleShortVersionString"), QVariant(QString(ZT_PROJECT_VERSION)));
    EXPECT_EQ(info->value("CFBundleIdentifier").toString(), LaunchAgent::bundleIdentifier);
    EXPECT_EQ(info->value("CFBundleExecutable"), QVariant(QString("ZimtorvaCompanion")));
    TemporaryBundle other;
    other.addImage("../Info", Qt::red);
    EXPECT_FALSE(other.bundle().pathForImageResource("../Info"));
}

} // namespace
} // namespace zt::apptest
