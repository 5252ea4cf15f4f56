#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <string>

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
    // <bundle>/Contents/MacOS/ZimtorvaCompanion, the program started at login.
    static QString programPath(const QString& bundlePath);
    // The file's UTF-8 text, starting programPath(bundlePath).
    static QByteArray fileText(const QString& bundlePath);
    // Why no file may name a program in the bundle at `nativeBundlePath`
    // (the path's bytes as the file system has them); nothing when it may.
    static std::optional<std::string> refusal(const QByteArray& nativeBundlePath);
};

} // namespace zt
