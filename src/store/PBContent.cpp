#include "store/PBContent.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace Base64 {

std::optional<QByteArray> decodeStrict(QStringView text)
{
    const qsizetype n = text.size();
    if (n % 4 != 0)
        return std::nullopt;
    qsizetype padding = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        const bool alphabet = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') ||
                              (c >= u'0' && c <= u'9') || c == u'+' || c == u'/';
        if (c == u'=') {
            // Padding only at the end, at most two characters.
            if (i < n - 2)
                return std::nullopt;
            ++padding;
        } else if (!alphabet || padding > 0) {
            return std::nullopt;
        }
    }
    const auto result =
        QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return std::nullopt;
    return *result;
}

QString encode(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64());
}

} // namespace Base64

namespace {

void appendJsonString(QByteArray &out, const QString &text)
{
    out += '"';
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80) {
            switch (c) {
            case u'"':
                out += "\\\"";
                break;
            case u'\\':
                out += "\\\\";
                break;
            case u'\n':
                out += "\\n";
                break;
            case u'\r':
                out += "\\r";
                break;
            case u'\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char buffer[8];
                    std::snprintf(buffer, sizeof buffer, "\\u%04x", unsigned(c));
                    out += buffer;
                } else {
                    out += char(c);
                }
            }
        } else if (QChar::isHighSurrogate(c) && i + 1 < n &&
                   QChar::isLowSurrogate(text[i + 1].unicode())) {
            out += text.mid(i, 2).toUtf8();
            ++i;
        } else if (QChar::isSurrogate(c)) {
            // A lone surrogate has no UTF-8 form; the escape keeps the name exactly as read.
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", unsigned(c));
            out += buffer;
        } else {
            out += QString(QChar(c)).toUtf8();
        }
    }
    out += '"';
}

} // namespace

PBContent PBContent::from(const ItemList &items)
{
    PBContent content;
    content.items.reserve(items.size());
    for (const FlavorList &item : items) {
        Item stored;
        stored.flavors.reserve(item.size());
        for (const ::Flavor &f : item)
            stored.flavors.append({f.uti, Base64::encode(f.data)});
        content.items.append(std::move(stored));
    }
    return content;
}

QByteArray PBContent::toJson() const
{
    qsizetype size = 16;
    for (const Item &item : items) {
        for (const Flavor &f : item.flavors)
            size += f.uti.size() + f.data.size() + 24;
    }
    QByteArray out;
    out.reserve(size);
    out += "{\"items\":[";
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (i)
            out += ',';
        out += "{\"flavors\":[";
        const QList<Flavor> &flavors = items[i].flavors;
        for (qsizetype j = 0; j < flavors.size(); ++j) {
            if (j)
                out += ',';
            out += "{\"uti\":";
            appendJsonString(out, flavors[j].uti);
            out += ",\"data\":\"";
            out += flavors[j].data.toLatin1(); // Base64 needs no escaping
            out += "\"}";
        }
        out += "]}";
    }
    out += "]}";
    return out;
}

QJsonObject PBContent::toJsonObject() const
{
    QJsonArray itemArray;
    for (const Item &item : items) {
        QJsonArray flavorArray;
        for (const Flavor &f : item.flavors)
            flavorArray.append(
                QJsonObject{{QStringLiteral("uti"), f.uti}, {QStringLiteral("data"), f.data}});
        itemArray.append(QJsonObject{{QStringLiteral("flavors"), flavorArray}});
    }
    return QJsonObject{{QStringLiteral("items"), itemArray}};
}

std::optional<PBContent> PBContent::fromJson(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return fromJsonObject(document.object());
}

std::optional<PBContent> PBContent::fromJsonObject(const QJsonObject &object)
{
    const QJsonValue itemsValue = object.value(QLatin1String("items"));
    if (!itemsValue.isArray())
        return std::nullopt;
    PBContent content;
    const QJsonArray itemArray = itemsValue.toArray();
    content.items.reserve(itemArray.size());
    for (const QJsonValue &itemValue : itemArray) {
        if (!itemValue.isObject())
            return std::nullopt;
        const QJsonValue flavorsValue = itemValue.toObject().value(QLatin1String("flavors"));
        if (!flavorsValue.isArray())
            return std::nullopt;
        Item item;
        const QJsonArray flavorArray = flavorsValue.toArray();
        item.flavors.reserve(flavorArray.size());
        for (const QJsonValue &flavorValue : flavorArray) {
            if (!flavorValue.isObject())
                return std::nullopt;
            const QJsonObject flavor = flavorValue.toObject();
            const QJsonValue uti = flavor.value(QLatin1String("uti"));
            const QJsonValue data = flavor.value(QLatin1String("data"));
            if (!uti.isString() || !data.isString())
                return std::nullopt;
            item.flavors.append({uti.toString(), data.toString()});
        }
        content.items.append(std::move(item));
    }
    return content;
}

ItemList PBContent::decodedItems(bool dropEmptyItems) const
{
    ItemList result;
    result.reserve(items.size());
    for (const Item &item : items) {
        FlavorList decoded;
        decoded.reserve(item.flavors.size());
        for (const Flavor &f : item.flavors) {
            if (auto bytes = Base64::decodeStrict(f.data))
                decoded.append({f.uti, std::move(*bytes)});
        }
        if (!dropEmptyItems || !decoded.isEmpty())
            result.append(std::move(decoded));
    }
    return result;
}

FlavorList PBContent::decodedFlavors() const
{
    return Flavors::flatten(decodedItems());
}
