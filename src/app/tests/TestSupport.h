#pragma once

#include "app/Appearance.h"
#include "app/Bundle.h"
#include "app/UserDefaults.h"
#include "link/testing/FakePlatform.h"

#include <QtTest>
#include <QtWidgets>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

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

    void addImage(const QString& name, const QColor& colour) const
    {
        QImage image(36, 36, QImage::Format_ARGB32);
        image.fill(colour);
        image.save(path_ + QStringLiteral("/Contents/Resources/") + name + QStringLiteral(".png"));
    }

private:
    QTemporaryDir root_;
    QString path_;
};

inline void write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// A home folder and an empty settings store for one test.
struct Sandbox {
    Sandbox()
    {
        qputenv("HOME", home.path().toUtf8());
        QSettings(QSettings::NativeFormat, QSettings::UserScope, UserDefaults::organizationName,
                  UserDefaults::applicationName)
            .clear();
    }
    ~Sandbox() { qputenv("HOME", previousHome); }

    const QByteArray previousHome = qgetenv("HOME");
    const QTemporaryDir home;
};

class FakeAppearance : public Appearance {
    Q_OBJECT
public:
    QString current = aquaName;
    QString name() const override { return current; }
    void announce() { Q_EMIT changed(); }
};

} // namespace zt::apptest
