#pragma once

#include <QByteArray>
#include <QString>

namespace zt {

// The per-user launch-agent property list that starts the application at
// login.
class LaunchAgent {
public:
    static const QString bundleIdentifier;

    // <home>/Library/LaunchAgents
    static QString folderPath(const QString& home);
    // <folder>/<bundle identifier>.plist
    static QString filePath(const QString& home);
    // The file's UTF-8 text, starting <bundle>/Contents/MacOS/ZimtorvaCompanion.
    static QByteArray fileText(const QString& bundlePath);
};

} // namespace zt
