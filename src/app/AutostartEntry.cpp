#include "app/AutostartEntry.h"

#include "app/LaunchAgent.h"

namespace zt {

QString AutostartEntry::folderPath(const QString& configDirectory)
{
    return configDirectory + QStringLiteral("/autostart");
}

QString AutostartEntry::filePath(const QString& configDirectory)
{
    return folderPath(configDirectory) + u'/' + LaunchAgent::bundleIdentifier + QStringLiteral(".desktop");
}

QString AutostartEntry::execArgument(const QString& program)
{
    // Inside double quotes ", `, $ and \ take a backslash; % is a field code
    // unless doubled.
    QString quoted;
    for (const QChar c : program) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        else if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    // The key's value is a string, whose own escaping doubles every
    // backslash again: a literal \ in the path is written as four.
    quoted.replace(u'\\', QStringLiteral("\\\\"));
    return u'"' + quoted + u'"';
}

QByteArray AutostartEntry::fileText(const QString& program)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=ZimTorva Companion\n"
                          "Exec=%1\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(execArgument(program))
        .toUtf8();
}

} // namespace zt
