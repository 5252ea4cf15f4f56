#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <system_error>

namespace zt {

// The few file operations starting at login needs, on local paths. None of
// them follows a symbolic link at the path itself: a link standing there is
// the item, whatever it points to.
class FileManager {
public:
    // $HOME when it is an absolute path, else the account's home folder;
    // nothing when neither is known. Never "/" for want of a better answer.
    static std::optional<QString> homeDirectory();

    // $XDG_CONFIG_HOME when it is an absolute path, else <home>/.config.
    static QString configDirectory(const QString& home);

    // Anything at all stands at `path`, a dangling link included.
    static bool itemExists(const QString& path);

    // The folder and any missing folders above it.
    static std::error_code createDirectory(const QString& path);

    // Removes what stands at `path`: a link itself, never its target.
    static std::error_code removeItem(const QString& path);

    // Writes `bytes` to a new file beside `path` and renames it over `path`:
    // whatever stood there (a link too) is replaced whole or not at all.
    static std::error_code writeAtomically(const QString& path, const QByteArray& bytes);
};

} // namespace zt
