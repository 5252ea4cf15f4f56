#include "app/PropertyList.h"

#include <QDateTime>
#include <QXmlStreamReader>

namespace zt {

namespace {

// Deep enough for any real property list, shallow enough for the stack.
constexpr int maxDepth = 64;

std::optional<QVariant> readValue(QXmlStreamReader& xml, int depth);

std::optional<QVariant> readDict(QXmlStreamReader& xml, int depth)
{
    QVariantMap map;
    while (xml.readNextStartElement()) {
        if (xml.name() != u"key")
            return std::nullopt;
        const QString key = xml.readElementText();
        if (xml.hasError() || !xml.readNextStartElement())
            return std::nullopt;
        auto value = readValue(xml, depth + 1);
        if (!value)
            return std::nullopt;
        map.insert(key, *value);
    }
    if (xml.hasError())
        return std::nullopt;
    return map;
}

std::optional<QVariant> readArray(QXmlStreamReader& xml, int depth)
{
    QVariantList list;
    while (xml.readNextStartElement()) {
        auto value = readValue(xml, depth + 1);
        if (!value)
            return std::nullopt;
        list.append(*value);
    }
    if (xml.hasError())
        return std::nullopt;
    return list;
}

std::optional<QVariant> readScalar(QXmlStreamReader& xml)
{
    const QString tag = xml.name().toString();
    if (tag == u"true" || tag == u"false") {
        xml.readElementText();
        if (xml.hasError())
            return std::nullopt;
        return QVariant(tag == u"true");
    }
    const QString text = xml.readElementText();
    if (xml.hasError())
        return std::nullopt;
    bool ok = false;
    if (tag == u"string")
        return QVariant(text);
    if (tag == u"integer") {
        const qlonglong n = text.trimmed().toLongLong(&ok);
        return ok ? std::optional<QVariant>(n) : std::nullopt;
    }
    if (tag == u"real") {
        const double d = text.trimmed().toDouble(&ok);
        return ok ? std::optional<QVariant>(d) : std::nullopt;
    }
    if (tag == u"date") {
        const QDateTime date = QDateTime::fromString(text.trimmed(), Qt::ISODate);
        return date.isValid() ? std::optional<QVariant>(date) : std::nullopt;
    }
    if (tag == u"data") {
        auto decoded = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::IgnoreBase64DecodingErrors);
        return decoded ? std::optional<QVariant>(*decoded) : std::nullopt;
    }
    return std::nullopt;
}

std::optional<QVariant> readValue(QXmlStreamReader& xml, int depth)
{
    if (depth > maxDepth)
        return std::nullopt;
    if (xml.name() == u"dict")
        return readDict(xml, depth);
    if (xml.name() == u"array")
        return readArray(xml, depth);
    return readScalar(xml);
}

} // namespace

std::optional<QVariant> PropertyList::parse(const QByteArray& document)
{
    QXmlStreamReader xml(document);
    if (!xml.readNextStartElement() || xml.name() != u"plist")
        return std::nullopt;
    if (!xml.readNextStartElement())
        return std::nullopt;
    auto root = readValue(xml, 0);
    if (!root)
        return std::nullopt;
    // Exactly one value in <plist>, and nothing but whitespace, comments
    // or processing instructions after it.
    if (xml.readNextStartElement())
        return std::nullopt;
    while (!xml.atEnd())
        xml.readNext();
    if (xml.hasError())
        return std::nullopt;
    return root;
}

} // namespace zt
