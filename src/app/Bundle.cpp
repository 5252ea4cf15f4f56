#include "app/Bundle.h"

#include "app/PropertyList.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

#include <algorithm>
#include <utility>

namespace zt {

namespace {
// Info.plist is a few hundred bytes; refuse to slurp anything absurd.
constexpr qint64 maxInfoSize = 1 << 20;
} // namespace

Bundle::Bundle(QString bundlePath) : bundlePath_(std::move(bundlePath)), nativePath_(QFile::encodeName(bundlePath_)) {}

Bundle Bundle::fromNativePath(QByteArray nativePath)
{
    Bundle bundle(QFile::decodeName(nativePath));
    bundle.nativePath_ = std::move(nativePath);
    return bundle;
}

Bundle Bundle::main()
{
    // The kernel's bytes for the executable's path: decoding a folder name
    // that is not UTF-8 would give the name of some other folder.
    QByteArray executable(4096, '\0');
    ssize_t length = 0;
    while ((length = ::readlink("/proc/self/exe", executable.data(), static_cast<size_t>(executable.size())))
               == executable.size()
           && executable.size() < (1 << 20))
        executable.resize(executable.size() * 2);
    if (length <= 0 || length == executable.size())
        return Bundle(QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../..")));
    executable.truncate(length);
    // <bundle>/Contents/MacOS/<executable>
    QByteArray bundle = executable;
    for (int up = 0; up < 3; ++up)
        bundle.truncate(std::max<qsizetype>(bundle.lastIndexOf('/'), 1));
    return fromNativePath(bundle);
}

std::optional<QString> Bundle::pathForImageResource(const QString& name) const
{
    if (name.isEmpty() || name.contains(u'/'))
        return std::nullopt;
    const QString path = bundlePath_ + QStringLiteral("/Contents/Resources/") + name + QStringLiteral(".png");
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    return path;
}

std::optional<QVariantMap> Bundle::infoDictionary() const
{
    QFile file(bundlePath_ + QStringLiteral("/Contents/Info.plist"));
    if (!file.open(QIODevice::ReadOnly) || file.size() > maxInfoSize)
        return std::nullopt;
    const auto root = PropertyList::parse(file.read(maxInfoSize));
    if (!root || root->typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    return root->toMap();
}

} // namespace zt
