#include "TestSupport.h"

#include "app/DesktopAppearance.h"
#include "support/PrivateBus.h"

#include <QDBusVariant>

namespace zt::apptest {
namespace {

// The desktop's settings portal, reduced to the colour scheme.
class FakePortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    QVariant scheme;
    bool doubleWrapped = false;
    void announce(QVariant v) { Q_EMIT SettingChanged("org.freedesktop.appearance", "color-scheme", QDBusVariant(v)); }

public Q_SLOTS:
    QDBusVariant Read(const QString&, const QString&)
    {
        return doubleWrapped ? QDBusVariant(QVariant::fromValue(QDBusVariant(scheme))) : QDBusVariant(scheme);
    }

Q_SIGNALS:
    void SettingChanged(const QString& ns, const QString& key, const QDBusVariant& value);
};

const QString dark = Appearance::darkAquaName, light = Appearance::aquaName;

void setPalette(bool dark)
{
    QApplication::setPalette(QPalette(dark ? QColor(30, 30, 30) : QColor(240, 240, 240)));
}

TEST(DesktopAppearanceTest, WithoutAPortalThePaletteDecides)
{
    setPalette(false);
    DesktopAppearance appearance(QDBusConnection::connectToBus("unix:path=/nonexistent/zt", "zt-none"));
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
    test::PrivateBus bus;
    const QString address = QString::fromStdString(bus.address());
    QDBusConnection portalSide = QDBusConnection::connectToBus(address, "zt-portal");
    const auto closePortal = qScopeGuard([] { QDBusConnection::disconnectFromBus("zt-portal"); });
    FakePortal portal;
    ASSERT_TRUE(portalSide.registerObject("/org/freedesktop/portal/desktop", &portal,
                                          QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
    ASSERT_TRUE(portalSide.registerService("org.freedesktop.portal.Desktop"));

    int round = 0;
    for (const auto& [scheme, doubleWrapped] : {std::pair{1u, false}, {1u, true}, {0u, false}, {2u, true}}) {
        // A connection per round: signals of the round before may still be under way.
        const QString name = QString("zt-app-%1").arg(++round);
        const QString expected = scheme == 1 ? dark : light;
        const bool darkPalette = expected != dark; // so the answer's arrival shows as a change
        setPalette(darkPalette);
        portal.scheme = scheme;
        portal.doubleWrapped = doubleWrapped;
        const auto close = qScopeGuard([&] { QDBusConnection::disconnectFromBus(name); });
        DesktopAppearance appearance(QDBusConnection::connectToBus(address, name));
        QSignalSpy changed(&appearance, &Appearance::changed);
        EXPECT_EQ(appearance.name(), darkPalette ? dark : light); // until the answer
        ASSERT_TRUE(changed.wait(5000));
        EXPECT_EQ(appearance.name(), expected);

        // The subscription is set up in the background: repeat until heard.
        const QVariant flipped = expected == dark ? 0u : 1u;
        ASSERT_TRUE(QTest::qWaitFor([&] { return portal.announce(flipped), changed.count() == 2; }, 5000));
        EXPECT_EQ(appearance.name(), expected == dark ? light : dark);
        setPalette(!darkPalette); // the portal is in charge now
        EXPECT_EQ(changed.count(), 2);
    }
}

} // namespace
} // namespace zt::apptest

#include "DesktopAppearanceTest.moc"
