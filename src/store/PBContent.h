#pragma once

#include "core/Flavor.h"

#include <optional>
#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

// The stored snapshot of one pasteboard content: items of (type identifier, Base64 data).
// Its JSON form is {"items":[{"flavors":[{"uti":"...","data":"..."}]}]}.
struct PBContent
{
    struct Flavor
    {
        QString uti;
        QString data; // standard Base64, no line breaks

        friend bool operator==(const Flavor &, const Flavor &) = default;
    };
    struct Item
    {
        QList<Flavor> flavors;

        friend bool operator==(const Item &, const Item &) = default;
    };

    QList<Item> items;

    friend bool operator==(const PBContent &, const PBContent &) = default;

    static PBContent from(const ItemList &items);

    // Compact JSON, keys in declaration order.
    QByteArray toJson() const;
    // The JSON object form, for embedding in other documents.
    QJsonObject toJsonObject() const;

    // Every key required with its JSON type; other keys are ignored. Absent when malformed.
    static std::optional<PBContent> fromJson(const QByteArray &json);
    static std::optional<PBContent> fromJsonObject(const QJsonObject &object);

    // Back to bytes. Flavors whose Base64 is invalid are dropped; with dropEmptyItems, so are
    // items left without flavors.
    ItemList decodedItems(bool dropEmptyItems = false) const;
    FlavorList decodedFlavors() const;
};

namespace Base64 {
// Strict standard-alphabet decoding: padded to a multiple of four, no whitespace, nothing
// outside the alphabet. Absent when the text is not valid.
std::optional<QByteArray> decodeStrict(QStringView text);
QString encode(const QByteArray &bytes);
} // namespace Base64
