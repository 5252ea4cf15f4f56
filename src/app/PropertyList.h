#pragma once

#include <QByteArray>
#include <QVariant>

#include <optional>

namespace zt {

// Reads an XML property list into Qt values: dict -> QVariantMap, array ->
// QVariantList, string -> QString, integer -> qlonglong, real -> double,
// true/false -> bool, date -> QDateTime, data -> QByteArray.
class PropertyList {
public:
    // Nothing when the document is not a well-formed property list.
    static std::optional<QVariant> parse(const QByteArray& xml);
};

} // namespace zt
