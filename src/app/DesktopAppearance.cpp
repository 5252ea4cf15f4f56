#include "app/DesktopAppearance.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QEvent>
#include <QGuiApplication>
#include <QPalette>

namespace zt {

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString portalInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearanceNamespace = QStringLiteral("org.freedesktop.appearance");
const QString colorSchemeKey = QStringLiteral("color-scheme");

// Start-up must not wait on a desktop that never answers.
constexpr int portalTimeoutMs = 1000;
constexpr qlonglong prefersDark = 1;

// Read() answers with the setting wrapped in one variant or, on older
// portals, two.
std::optional<qlonglong> schemeNumber(QVariant value)
{
    for (int unwrap = 0; unwrap < 4 && value.userType() == qMetaTypeId<QDBusVariant>(); ++unwrap)
        value = value.value<QDBusVariant>().variant();
    switch (value.typeId()) {
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return value.toLongLong();
    default:
        return std::nullopt;
    }
}

} // namespace

DesktopAppearance::DesktopAppearance(const QDBusConnection& bus, QObject* parent)
    : Appearance(parent), bus_(bus)
{
    if (qApp)
        qApp->installEventFilter(this);
    if (bus_.isConnected()) {
        // Listen before asking, so no change slips between the two. The slot
        // is matched by its signature's type names, which Qt 6 knows only
        // once the type is registered.
        qRegisterMetaType<QDBusVariant>();
        bus_.connect(portalService, portalPath, portalInterface, QStringLiteral("SettingChanged"), this,
                     SLOT(settingChanged(QString, QString, QDBusVariant)));
        auto message = QDBusMessage::createMethodCall(portalService, portalPath, portalInterface,
                                                      QStringLiteral("Read"));
        message << appearanceNamespace << colorSchemeKey;
        auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message, portalTimeoutMs), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, &DesktopAppearance::readAnswered);
    }
    lastName_ = currentName();
}

// Kept up to date by every change of what it rests on: read on every write
// from the watch, it must cost nothing.
QString DesktopAppearance::name() const { return lastName_; }

QString DesktopAppearance::currentName() const
{
    const bool dark = portalDark_ ? *portalDark_ : paletteIsDark();
    return dark ? darkAquaName : aquaName;
}

bool DesktopAppearance::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange)
        notifyIfChanged();
    return Appearance::eventFilter(watched, event);
}

void DesktopAppearance::settingChanged(const QString& ns, const QString& key, const QDBusVariant& value)
{
    if (ns != appearanceNamespace || key != colorSchemeKey)
        return;
    portalSignalled_ = true;
    setPortalScheme(value.variant());
}

void DesktopAppearance::readAnswered(QDBusPendingCallWatcher* call)
{
    call->deleteLater();
    const QDBusMessage reply = call->reply();
    // A change signalled meanwhile is newer than this answer.
    if (portalSignalled_ || reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return;
    setPortalScheme(reply.arguments().constFirst());
}

void DesktopAppearance::setPortalScheme(const QVariant& value)
{
    const auto number = schemeNumber(value);
    if (!number)
        return;
    portalDark_ = *number == prefersDark;
    notifyIfChanged();
}

void DesktopAppearance::notifyIfChanged()
{
    const QString current = currentName();
    if (current == lastName_)
        return;
    lastName_ = current;
    Q_EMIT changed();
}

bool DesktopAppearance::paletteIsDark()
{
    const QPalette palette = QGuiApplication::palette();
    return palette.color(QPalette::Window).lightnessF() < palette.color(QPalette::WindowText).lightnessF();
}

} // namespace zt
