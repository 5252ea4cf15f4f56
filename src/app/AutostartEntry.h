#pragma once

#include <QByteArray>
#include <QString>

namespace zt {

// The freedesktop autostart entry that makes a Linux session start the
// application at login: what the launch agent does for the service launcher
// that reads property lists.
class AutostartEntry {
public:
    // <config>/autostart
    static QString folderPath(const QString& configDirectory);
    // <folder>/<bundle identifier>.desktop
    static QString filePath(const QString& configDirectory);
    // The entry's UTF-8 text, starting `program` with no arguments.
    static QByteArray fileText(const QString& program);
    // `program` as one argument of an Exec key, quoted and escaped.
    static QString execArgument(const QString& program);
};

} // namespace zt
