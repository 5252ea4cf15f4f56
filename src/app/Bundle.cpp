#include "app/Bundle.h"

#include "app/PropertyList.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <utility>

namespace zt {

namespace {
// Info.plist is a few hundred bytes; refuse to slurp anything absurd.
constexpr qint64 maxInfoSize = 1 << 20;
} // namespace

Bundle::Bundle(QString bundlePath) : bundlePath_(std::move(bundlePath)) {}

Bundle Bundle::main()
{
    return Bundle(QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../..")));
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
