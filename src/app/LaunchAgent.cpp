#include "app/LaunchAgent.h"

namespace zt {

const QString LaunchAgent::bundleIdentifier = QStringLiteral(ZT_BUNDLE_IDENTIFIER);

QString LaunchAgent::folderPath(const QString& home)
{
    return home + QStringLiteral("/Library/LaunchAgents");
}

QString LaunchAgent::filePath(const QString& home)
{
    return folderPath(home) + u'/' + bundleIdentifier + QStringLiteral(".plist");
}

QByteArray LaunchAgent::fileText(const QString& bundlePath)
{
    // The path is element text: unescaped, "&" or "<" in it would break the
    // document or smuggle in elements of its own.
    QString path = bundlePath;
    path.replace(u'&', QStringLiteral("&amp;"));
    path.replace(u'<', QStringLiteral("&lt;"));
    path.replace(u'>', QStringLiteral("&gt;"));

    const QString head = QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n"
        "<dict>\n"
        "    <key>Label</key>\n"
        "    <string>%1</string>\n"
        "    <key>ProgramArguments</key>\n"
        "    <array>\n"
        "        <string>").arg(bundleIdentifier);
    const QString tail = QStringLiteral(
        "/Contents/MacOS/ZimtorvaCompanion</string>\n"
        "    </array>\n"
        "    <key>RunAtLoad</key>\n"
        "    <true/>\n"
        "</dict>\n"
        "</plist>");
    return (head + path + tail).toUtf8();
}

} // namespace zt
