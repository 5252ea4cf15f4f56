#pragma once

#include "app/Appearance.h"

#include <QDBusConnection>

#include <optional>

class QDBusPendingCallWatcher;
class QDBusVariant;

namespace zt {

// Dark exactly when the desktop prefers a dark colour scheme: the settings
// portal's "color-scheme" where the desktop offers it, else the palette
// (window colour darker than text).
class DesktopAppearance : public Appearance {
    Q_OBJECT
public:
    // The portal is looked for on `bus` without blocking; a bus that is not
    // connected leaves the palette alone to decide.
    explicit DesktopAppearance(const QDBusConnection& bus, QObject* parent = nullptr);

    QString name() const override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private Q_SLOTS:
    void settingChanged(const QString& ns, const QString& key, const QDBusVariant& value);

private:
    void readAnswered(QDBusPendingCallWatcher* call);
    void setPortalScheme(const QVariant& value);
    QString currentName() const;
    void notifyIfChanged();
    static bool paletteIsDark();

    QDBusConnection bus_;
    std::optional<bool> portalDark_;
    bool portalSignalled_ = false;
    QString lastName_;
};

} // namespace zt
