#include "app/LaunchAgent.h"

#include <QStringDecoder>

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

QString LaunchAgent::programPath(const QString& bundlePath)
{
    return bundlePath + QStringLiteral("/Contents/MacOS/ZimtorvaCompanion");
}

std::optional<std::string> LaunchAgent::refusal(const QByteArray& nativeBundlePath)
{
    // A path that is not UTF-8 would be written as some other path, and a
    // control character breaks the XML and the autostart entry alike.
    QStringDecoder utf8(QStringConverter::Utf8);
    const QString path = utf8(nativeBundlePath);
    if (utf8.hasError())
        return "the application's path is not valid UTF-8";
    for (const QChar c : path) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u != 0xFFFE && u != 0xFFFF)
            continue;
        const std::string code = QStringLiteral("U+%1").arg(u, 4, 16, QLatin1Char('0')).toUpper().toStdString();
        return u < 0x20 ? "the application's path holds the control character " + code
                        : "the application's path holds " + code + ", which XML does not allow";
    }
    return std::nullopt;
}

QByteArray LaunchAgent::fileText(const QString& bundlePath)
{
    // The path is element text: unescaped, "&" or "<" in it would break the
    // document or smuggle in elements of its own.
    QString path = programPath(bundlePath);
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
        "</string>\n"
        "    </array>\n"
        "    <key>RunAtLoad</key>\n"
        "    <true/>\n"
        "</dict>\n"
        "</plist>");
    return (head + path + tail).toUtf8();
}

} // namespace zt
