#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <optional>

namespace zt {

// The application bundle: <bundle>/Contents/{MacOS/<executable>,
// Resources/<name>.png, Info.plist}.
class Bundle {
public:
    explicit Bundle(QString bundlePath);
    // From the path's bytes as the file system has them, which need not be
    // UTF-8.
    static Bundle fromNativePath(QByteArray nativePath);

    // The bundle of the running executable, two folders above its own.
    static Bundle main();

    const QString& bundlePath() const { return bundlePath_; }
    const QByteArray& nativeBundlePath() const { return nativePath_; }

    // The file of the image resource `name`; nothing when it is not there.
    std::optional<QString> pathForImageResource(const QString& name) const;

    // Info.plist read anew; nothing when it is absent, malformed or not a
    // dictionary.
    std::optional<QVariantMap> infoDictionary() const;

private:
    QString bundlePath_;
    QByteArray nativePath_;
};

} // namespace zt
