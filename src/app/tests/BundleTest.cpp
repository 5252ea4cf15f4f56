#include "app/Bundle.h"
#include "app/LaunchAgent.h"
#include "app/PropertyList.h"

#include <QImage>

#include <gtest/gtest.h>

namespace zt {
namespace {

TEST(PropertyListTest, RejectsWhatIsNotAWellFormedPropertyList)
{
    const auto plist = [](const QByteArray& body) { return "<?xml version=\"1.0\"?><plist>" + body + "</plist>"; };
    const QByteArray deep = QByteArray("<array>").repeated(500) + QByteArray("</array>").repeated(500);
    const QByteArray entity = "<!ENTITY a \"" + QByteArray("x").repeated(64) + "\">";
    QByteArray bomb = "<!DOCTYPE p [" + entity;
    for (char level = 'b'; level <= 'f'; ++level)
        bomb += QByteArray("<!ENTITY ") + level + " \"" + (QByteArray("&") + char(level - 1) + ";").repeated(16) + "\">";
    bomb += "]><plist><string>&f;</string></plist>";
    for (const QByteArray& document : {
             QByteArray(), QByteArray("bplist00\xd1\x01", 10), QByteArray("<dict/>"), plist(""),
             plist("<string>a</string><string>b</string>"), plist("<dict><key>a</key></dict>"),
             plist("<dict><string>a</string><string>b</string></dict>"), plist("<blob>1</blob>"),
             plist("<integer>12x</integer>"), plist("<string>a<b/></string>"), plist("<dict>"),
             plist("<string>a</string>") + "<plist/>", plist("<string>&undefined;</string>"), plist(deep), bomb})
        EXPECT_FALSE(PropertyList::parse(document)) << document.left(100).toStdString();
    EXPECT_EQ(PropertyList::parse(plist("<dict><key>k</key><array><integer>-4</integer><true/></array></dict>")),
              QVariant(QVariantMap{{"k", QVariantList{qlonglong(-4), true}}}));
}

// The bundle the build lays out beside the executable.
TEST(BuiltBundleTest, InfoMatchesTheCodeAndGlyphsSuitTheirPanels)
{
    const Bundle built(QStringLiteral(ZT_BUILT_BUNDLE));
    const auto info = built.infoDictionary();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->value("CFBundleShortVersionString"), QVariant(QString(ZT_PROJECT_VERSION)));
    EXPECT_EQ(info->value("CFBundleIdentifier").toString(), LaunchAgent::bundleIdentifier);
    EXPECT_EQ(info->value("CFBundleExecutable"), QVariant(QString("ZimtorvaCompanion")));

    const auto lightness = [](const QImage& image) {
        double sum = 0, weight = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                sum += c.lightnessF() * c.alphaF();
                weight += c.alphaF();
            }
        return weight > 0 ? sum / weight : -1.0;
    };
    for (const QString base : {"unpaired", "paired-on", "paired-off"}) {
        // Plain glyphs are light, for dark panels; "dark-" ones the reverse.
        const auto plain = built.pathForImageResource(base);
        const auto dark = built.pathForImageResource("dark-" + base);
        ASSERT_TRUE(plain && dark) << base.toStdString();
        EXPECT_EQ(QImage(*plain).size(), QSize(36, 36));
        EXPECT_GT(lightness(QImage(*plain)), 0.8) << base.toStdString();
        EXPECT_LT(lightness(QImage(*dark)), 0.3) << base.toStdString();
    }
    const auto icon = built.pathForImageResource("AppIcon");
    ASSERT_TRUE(icon);
    EXPECT_EQ(QImage(*icon).size(), QSize(256, 256));
    EXPECT_FALSE(built.pathForImageResource("../Info"));
}

} // namespace
} // namespace zt
