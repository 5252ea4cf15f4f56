#pragma once

#include <QObject>
#include <QString>

namespace zt {

// The application's effective appearance, known by name.
class Appearance : public QObject {
    Q_OBJECT
public:
    static inline const QString darkAquaName = QStringLiteral("NSAppearanceNameDarkAqua");
    static inline const QString aquaName = QStringLiteral("NSAppearanceNameAqua");

    using QObject::QObject;
    virtual QString name() const = 0;

Q_SIGNALS:
    // The name may have changed.
    void changed();
};

} // namespace zt
