// The six tray images as the application shows them, on panels from black to
// white: each must stand out from every panel, whatever the colour scheme,
// and the three link states must differ at 1x. Leaves a picture of them all
// and the figures in the build's test-artifacts folder.

#include "TestSupport.h"

#include "app/AppDelegate.h"
#include "link/Watch.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <vector>

namespace zt::apptest {
namespace {

// WCAG 2 asks 3:1 of the parts of a graphic needed to understand it.
constexpr double minimumContrast = 3.0;
// Of 18 x 18 pixels, how many must differ by that much between two states.
constexpr int minimumDifferingPixels = 12;

const QColor panels[] = {QColor("#000000"), QColor("#202020"), QColor("#808080"), QColor("#e8e8e8"),
                         QColor("#ffffff")};

struct Glyph {
    QString name;
    QImage atScale[2]; // 1x (18 x 18 pixels) and 2x (36 x 36)
};

// Relative luminance, WCAG 2.
double luminance(QRgb colour)
{
    const auto linear = [](int channel) {
        const double c = channel / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(qRed(colour)) + 0.7152 * linear(qGreen(colour)) + 0.0722 * linear(qBlue(colour));
}

double contrast(double a, double b)
{
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

QImage onPanel(const QImage& glyph, const QColor& panel)
{
    QImage shown(glyph.size(), QImage::Format_RGB32);
    shown.fill(panel);
    QPainter(&shown).drawImage(0, 0, glyph);
    return shown;
}

// The glyph's outer ring (its opaque pixels next to a transparent one: the
// outline) and its core (the other opaque pixels: the fill and what is drawn
// on it), each as its typical (median) luminance on `panel`, set against the
// panel. A glyph reads when either stands out: the outline on a panel of the
// fill's shade, the fill on one of the outline's.
struct Figures {
    double ring, core;
    double best() const { return std::max(ring, core); }
};

Figures figures(const QImage& glyph, const QColor& panel)
{
    const QImage shown = onPanel(glyph, panel);
    const auto opaque = [&](int x, int y) { return glyph.rect().contains(x, y) && qAlpha(glyph.pixel(x, y)) >= 128; };
    std::vector<double> parts[2]; // core, ring
    for (int y = 0; y < glyph.height(); ++y)
        for (int x = 0; x < glyph.width(); ++x)
            if (opaque(x, y)) {
                const bool ring = !(opaque(x - 1, y) && opaque(x + 1, y) && opaque(x, y - 1) && opaque(x, y + 1));
                parts[ring].push_back(luminance(shown.pixel(x, y)));
            }
    const double background = luminance(panel.rgb());
    const auto against = [&](std::vector<double>& part) {
        if (part.empty())
            return 1.0;
        const auto middle = part.begin() + std::ptrdiff_t(part.size() / 2);
        std::nth_element(part.begin(), middle, part.end());
        return contrast(*middle, background);
    };
    return {against(parts[1]), against(parts[0])};
}

// Pixels at which two glyphs, shown on the same panel, differ by the minimum.
int differingPixels(const QImage& a, const QImage& b, const QColor& panel)
{
    const QImage shownA = onPanel(a, panel), shownB = onPanel(b, panel);
    int differing = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            differing += contrast(luminance(shownA.pixel(x, y)), luminance(shownB.pixel(x, y))) >= minimumContrast;
    return differing;
}

// The six images the built bundle gives the tray icon, in the state that
// shows each.
std::vector<Glyph> shippedGlyphs()
{
    testing::FakePlatform platform;
    FakeAppearance appearance;
    std::ostringstream out;
    AppDelegate delegate(platform, Bundle(QStringLiteral(ZT_BUILT_BUNDLE)), appearance, out);
    delegate.applicationDidFinishLaunching();
    QString shown;
    QObject::connect(&delegate, &AppDelegate::trayImageChanged, [&](const QString& name) { shown = name; });
    std::vector<Glyph> glyphs;
    for (const QString& scheme : {Appearance::darkAquaName, Appearance::aquaName}) {
        for (const auto& [connected, active] : {std::pair{false, false}, {true, true}, {true, false}}) {
            appearance.current = scheme;
            delegate.watch()->active = active;
            delegate.watch()->connected = connected;
            const QIcon icon = delegate.statusItem()->icon();
            Glyph& glyph = glyphs.emplace_back(Glyph{shown, {}});
            for (const int scale : {1, 2}) {
                QImage& image = glyph.atScale[scale - 1];
                image = icon.pixmap(QSize(18, 18), scale).toImage().convertToFormat(QImage::Format_ARGB32);
                image.setDevicePixelRatio(1); // pixel for pixel from here on
            }
        }
    }
    return glyphs;
}

// All six on every panel at both scales, cell by cell; and four times as
// large, pixel for pixel, for looking at.
void savePicture(const std::vector<Glyph>& glyphs)
{
    constexpr int cell = 44;
    QImage strip(cell * 2 * int(std::size(panels)), cell * int(glyphs.size()), QImage::Format_RGB32);
    QPainter painter(&strip);
    for (std::size_t g = 0; g < glyphs.size(); ++g)
        for (int scale : {1, 2})
            for (std::size_t p = 0; p < std::size(panels); ++p) {
                const QRect area(cell * int((scale - 1) * std::size(panels) + p), cell * int(g), cell, cell);
                painter.fillRect(area, panels[p]);
                const QImage& image = glyphs[g].atScale[scale - 1];
                painter.drawImage(area.center() - image.rect().center(), image);
            }
    painter.end();
    const QString folder = QStringLiteral(ZT_ARTIFACT_DIR);
    QDir().mkpath(folder);
    EXPECT_TRUE(strip.save(folder + "/tray-glyphs.png"));
    EXPECT_TRUE(strip.scaled(strip.size() * 4).save(folder + "/tray-glyphs-x4.png"));
}

TEST(TrayGlyphTest, EachGlyphStandsOutFromEveryPanelAndTheStatesDifferAt1x)
{
    const std::vector<Glyph> glyphs = shippedGlyphs();
    ASSERT_EQ(glyphs.size(), 6u);
    savePicture(glyphs);
    std::ofstream table(ZT_ARTIFACT_DIR "/tray-glyph-contrast.txt");
    table << "glyph            scale  panel    ring   core\n";
    for (const Glyph& glyph : glyphs) {
        ASSERT_EQ(glyph.atScale[0].size(), QSize(18, 18)) << glyph.name.toStdString();
        ASSERT_EQ(glyph.atScale[1].size(), QSize(36, 36)) << glyph.name.toStdString();
        for (int scale : {1, 2})
            for (const QColor& panel : panels) {
                const Figures f = figures(glyph.atScale[scale - 1], panel);
                table << QString("%1 %2x     %3  %4  %5\n")
                             .arg(glyph.name, -16)
                             .arg(scale)
                             .arg(panel.name())
                             .arg(f.ring, 5, 'f', 2)
                             .arg(f.core, 5, 'f', 2)
                             .toStdString();
                EXPECT_GE(f.best(), minimumContrast)
                    << glyph.name.toStdString() << " " << scale << "x on " << panel.name().toStdString();
            }
    }
    // unpaired, paired-on, paired-off; then the same with "dark-".
    table << "\n1x pixels differing by 3:1   panel    unpaired/on  unpaired/off  on/off\n";
    for (std::size_t family : {0u, 3u})
        for (const QColor& panel : panels) {
            const auto differ = [&](std::size_t a, std::size_t b) {
                const int n = differingPixels(glyphs[family + a].atScale[0], glyphs[family + b].atScale[0], panel);
                EXPECT_GE(n, minimumDifferingPixels) << glyphs[family + a].name.toStdString() << " and "
                                                     << glyphs[family + b].name.toStdString() << " on "
                                                     << panel.name().toStdString();
                return n;
            };
            table << QString("%1 %2  %3  %4  %5\n")
                         .arg(glyphs[family].name, -28)
                         .arg(panel.name())
                         .arg(differ(0, 1), 11)
                         .arg(differ(0, 2), 12)
                         .arg(differ(1, 2), 6)
                         .toStdString();
        }
}

} // namespace
} // namespace zt::apptest
