#pragma once

#include <QString>
#include <QVariant>

#include <memory>

class QSettings;

namespace zt {

// The per-user settings store, kept across runs. Every call opens the
// store afresh, so edits made by another process are seen.
class UserDefaults {
public:
    static inline const QString organizationName = QStringLiteral("Zimtorva");
    static inline const QString applicationName = QStringLiteral("ZimtorvaCompanion");

    static UserDefaults& standard();

    // Invalid when the key is absent.
    QVariant object(const QString& key) const;
    void setObject(const QVariant& value, const QString& key);
    void removeObject(const QString& key);

    // False when absent or not readable as a truth value.
    bool boolForKey(const QString& key) const;
    // 0.0 when absent or not a finite number.
    double doubleForKey(const QString& key) const;

    bool startOnLogin() const;
    void setStartOnLogin(bool on);

private:
    UserDefaults() = default;
    static std::unique_ptr<QSettings> open();
};

} // namespace zt
