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

// Readable failure messages: text, not the bytes of Qt's containers.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << ::testing::PrintToString(text.toStdString());
}
inline void PrintTo(const QByteArray& bytes, std::ostream* out)
{
    *out << ::testing::PrintToString(bytes.toStdString());
}

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

    // The bundle's executable: a script that writes the path it was started
    // as to `record`.
    void addProgram(const QString& record) const
    {
        QFile program(path_ + QStringLiteral("/Contents/MacOS/ZimtorvaCompanion"));
        QDir().mkpath(QFileInfo(program).path());
        if (program.open(QIODevice::WriteOnly))
            program.write("#!/bin/sh\nprintf '%s' \"$0\" > '" + QFile::encodeName(record) + "'\n");
        program.setPermissions(program.permissions() | QFile::ExeOwner);
    }

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

inline QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<absent>");
}

inline void write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// A home folder with its own configuration folder, and an empty settings
// store, for one test.
struct Sandbox {
    Sandbox()
    {
        qputenv("HOME", QFile::encodeName(home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
        QSettings(QSettings::NativeFormat, QSettings::UserScope, UserDefaults::organizationName,
                  UserDefaults::applicationName)
            .clear();
    }
    ~Sandbox()
    {
        qputenv("HOME", previousHome);
        qputenv("XDG_CONFIG_HOME", previousConfig);
    }

    const QByteArray previousHome = qgetenv("HOME");
    const QByteArray previousConfig = qgetenv("XDG_CONFIG_HOME");
    const QTemporaryDir home;
    const QString config = home.path() + QStringLiteral("/config");
};

class FakeAppearance : public Appearance {
    Q_OBJECT
public:
    QString current = aquaName;
    QString name() const override { return current; }
    void announce() { Q_EMIT changed(); }
};

} // namespace zt::apptest
