#include "app/FileManager.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <vector>

namespace zt {

namespace {

std::filesystem::path fsPath(const QString& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

std::error_code lastError()
{
    return {errno, std::system_category()};
}

std::optional<QString> absolutePathFrom(const char* variable)
{
    const QString value = qEnvironmentVariable(variable);
    if (value.isEmpty() || !QDir::isAbsolutePath(value))
        return std::nullopt;
    return value;
}

std::optional<QString> accountHome()
{
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    while (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE && buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (!found || !found->pw_dir || found->pw_dir[0] != '/')
        return std::nullopt;
    return QFile::decodeName(found->pw_dir);
}

std::error_code writeAll(int fd, const QByteArray& bytes)
{
    const char* next = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, next, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? lastError() : std::make_error_code(std::errc::io_error);
        next += n;
        left -= n;
    }
    return {};
}

} // namespace

std::optional<QString> FileManager::homeDirectory()
{
    if (auto home = absolutePathFrom("HOME"))
        return home;
    return accountHome();
}

QString FileManager::configDirectory(const QString& home)
{
    return absolutePathFrom("XDG_CONFIG_HOME").value_or(home + QStringLiteral("/.config"));
}

bool FileManager::itemExists(const QString& path)
{
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0;
}

std::error_code FileManager::createDirectory(const QString& path)
{
    std::error_code error;
    std::filesystem::create_directories(fsPath(path), error);
    return error;
}

std::error_code FileManager::removeItem(const QString& path)
{
    std::error_code error;
    std::filesystem::remove(fsPath(path), error);
    return error;
}

std::error_code FileManager::writeAtomically(const QString& path, const QByteArray& bytes)
{
    const QByteArray target = QFile::encodeName(path);
    const qsizetype slash = target.lastIndexOf('/');
    // Hidden, in the same folder (a rename never crosses file systems).
    const QByteArray prefix = target.left(slash + 1) + '.' + target.mid(slash + 1) + '.';
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = prefix + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        // 0666 less the umask, as any new file of the user's.
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return lastError();
    }
    if (fd < 0)
        return std::make_error_code(std::errc::file_exists);

    std::error_code error = writeAll(fd, bytes);
    if (!error && ::fsync(fd) != 0)
        error = lastError();
    if (::close(fd) != 0 && !error)
        error = lastError();
    // rename() replaces the entry at the path, a symbolic link included,
    // and never opens what a link points to.
    if (!error && ::rename(temporary.constData(), target.constData()) != 0)
        error = lastError();
    if (error)
        ::unlink(temporary.constData());
    return error;
}

} // namespace zt
