#include "FakePortal.h"

#include "app/DesktopAppearance.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPalette>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace zt::apptest {
namespace {

const QString dark = "NSAppearanceNameDarkAqua";
const QString light = "NSAppearanceNameAqua";

void setPalette(bool darkWindow)
{
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Window, darkWindow ? QColor(30, 30, 30) : QColor(240, 240, 240));
    palette.setColor(QPalette::WindowText, darkWindow ? QColor(230, 230, 230) : QColor(10, 10, 10));
    QApplication::setPalette(palette);
}

TEST(DesktopAppearanceTest, WithoutAPortalThePaletteDecidesAndStartUpDoesNotWait)
{
    setPalette(false);
    QElapsedTimer clock;
    clock.start();
    DesktopAppearance appearance(QDBusConnection::connectToBus("unix:path=/nonexistent/zt", "zt-none"));
    EXPECT_LT(clock.elapsed(), 500);
    EXPECT_EQ(appearance.name(), light);
    QSignalSpy changed(&appearance, &Appearance::changed);
    for (const auto& [darkPalette, name, count] : {std::tuple{true, dark, 1}, {true, dark, 1}, {false, light, 2}}) {
        setPalette(darkPalette);
        EXPECT_EQ(appearance.name(), name);
        EXPECT_EQ(changed.count(), count);
    }
}

TEST(DesktopAppearanceTest, PortalAnswerAndChangesOverrideThePalette)
{
    PrivateBus bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
    QDBusConnection portalSide = QDBusConnection::connectToBus(bus.address(), "zt-portal");
    FakePortal portal;
    ASSERT_TRUE(portalSide.registerObject("/org/freedesktop/portal/desktop", &portal,
                                          QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
    ASSERT_TRUE(portalSide.registerService("org.freedesktop.portal.Desktop"));

    // Each answer differs from the palette, so its arrival shows as a change.
    const struct {
        QVariant scheme;
        bool doubleWrapped, darkPalette;
        QString expected;
    } answers[] = {{1u, false, false, dark}, {1u, true, false, dark}, {0u, false, true, light}, {2u, true, true, light}};
    int round = 0;
    for (const auto& a : answers) {
        // A connection per round: signals of the round before may still be under way.
        const QString name = QString("zt-app-%1").arg(++round);
        setPalette(a.darkPalette);
        portal.scheme = a.scheme;
        portal.doubleWrapped = a.doubleWrapped;
        QDBusConnection appSide = QDBusConnection::connectToBus(bus.address(), name);
        const auto close = qScopeGuard([&] { QDBusConnection::disconnectFromBus(name); });
        DesktopAppearance appearance(appSide);
        QSignalSpy changed(&appearance, &Appearance::changed);
        EXPECT_EQ(appearance.name(), a.darkPalette ? dark : light); // until the answer
        ASSERT_TRUE(changed.wait(5000));
        EXPECT_EQ(appearance.name(), a.expected);

        // The subscription is set up in the background: repeat until heard.
        const QVariant flipped = a.expected == dark ? 0u : 1u;
        portal.announce("accent-color", flipped);
        portal.announce("color-scheme", QString("1"));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                portal.announce("color-scheme", flipped);
                return changed.count() == 2;
            },
            5000));
        EXPECT_EQ(appearance.name(), a.expected == dark ? light : dark);
        setPalette(!a.darkPalette); // the portal is in charge now
        EXPECT_EQ(changed.count(), 2);
    }
    QDBusConnection::disconnectFromBus("zt-portal");
}

} // namespace
} // namespace zt::apptest
