#include "app/ContentView.h"

#include "app/Bundle.h"

#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

namespace zt {

namespace {
constexpr int iconSide = 50;
constexpr int padding = 16;
constexpr double titleScale = 1.8;
} // namespace

ContentView::ContentView(const Bundle& bundle, QWidget* parent) : QWidget(parent)
{
    setFixedSize(300, 200);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->addStretch();

    // Without the image the row keeps its place, empty.
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    icon->setFixedSize(iconSide, iconSide);
    icon->setScaledContents(true);
    if (const auto path = bundle.pathForImageResource(QStringLiteral("AppIcon")))
        icon->setPixmap(QPixmap(*path));
    stack->addWidget(icon, 0, Qt::AlignHCenter);

    auto* title = new QLabel(tr("ZimTorva Companion for macOS"), this);
    title->setObjectName(QStringLiteral("title"));
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * titleScale);
    title->setFont(titleFont);
    title->setWordWrap(true);
    title->setAlignment(Qt::AlignCenter);
    // Padding as spacer items: a label's own contents margins do not
    // survive being shown. Spacers add to the stack's spacing, not replace it.
    stack->addSpacing(padding);
    stack->addWidget(title);
    stack->addSpacing(padding);

    const auto info = bundle.infoDictionary();
    const auto version = info ? info->value(QStringLiteral("CFBundleShortVersionString")) : QVariant();
    if (version.typeId() == QMetaType::QString) {
        auto* line = new QLabel(QStringLiteral("Version: ") + version.toString(), this);
        line->setObjectName(QStringLiteral("version"));
        line->setTextFormat(Qt::PlainText);
        line->setAlignment(Qt::AlignCenter);
        stack->addWidget(line);
        stack->addSpacing(padding);
    }
    stack->addStretch();
}

} // namespace zt
