#pragma once

#include "app/Appearance.h"
#include "app/Bundle.h"
#include "app/UserDefaults.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSettings>
#include <QTemporaryDir>

namespace zt::apptest {

// A bundle folder on disk; `folderName` may hold any character a path can.
class TemporaryBundle {
public:
    explicit TemporaryBundle(const QString& folderName = QStringLiteral("ZimtorvaCompanion.app"))
        : path_(root_.filePath(folderName))
    {
        QDir().mkpath(path_ + QStringLiteral("/Contents/Resources"));
    }
    const QString& path() const { return path_; }
    Bundle bundle() const { return Bundle(path_); }

    // One colour per image, so a test can tell which one is on show.
    void addImage(const QString& name, const QColor& colour) const
    {
        QImage image(36, 36, QImage::Format_ARGB32);
        image.fill(colour);
        image.save(path_ + QStringLiteral("/Contents/Resources/") + name + QStringLiteral(".png"));
    }
    void addFile(const QString& relativePath, const QByteArray& bytes) const
    {
        QDir().mkpath(QFileInfo(path_ + u'/' + relativePath).path());
        QFile file(path_ + u'/' + relativePath);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
    }
    static QByteArray infoWithVersion(const QByteArray& element)
    {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
               "    <key>CFBundleShortVersionString</key>\n    "
            + element + "\n</dict>\n</plist>\n";
    }

private:
    QTemporaryDir root_;
    QString path_;
};

// A home folder and an empty settings store for one test.
class Sandbox {
public:
    Sandbox() : previousHome_(qgetenv("HOME"))
    {
        qputenv("HOME", home_.path().toUtf8());
        QSettings(QSettings::NativeFormat, QSettings::UserScope, UserDefaults::organizationName,
                  UserDefaults::applicationName)
            .clear();
    }
    ~Sandbox() { qputenv("HOME", previousHome_); }
    QString home() const { return home_.path(); }

private:
    QTemporaryDir home_;
    QByteArray previousHome_;
};

class FakeAppearance : public Appearance {
    Q_OBJECT
public:
    QString current = aquaName;
    QString name() const override { return current; }
    void announce() { Q_EMIT changed(); }
};

} // namespace zt::apptest
