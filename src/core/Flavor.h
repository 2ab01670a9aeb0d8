#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The captured form of pasteboard contents: items in pasteboard order, each an ordered list
// of (type identifier, bytes) pairs.
struct Flavor
{
    QString uti;
    QByteArray data;

    friend bool operator==(const Flavor &, const Flavor &) = default;
};

using FlavorList = QList<Flavor>;
using ItemList = QList<FlavorList>;

// Type identifiers used across the program. Content keeps them on every platform; the
// pasteboard layer translates them at its edge.
namespace Uti {
inline const QString plainText = QStringLiteral("public.utf8-plain-text");
inline const QString rtf = QStringLiteral("public.rtf");
inline const QString html = QStringLiteral("public.html");
inline const QString png = QStringLiteral("public.png");
inline const QString tiff = QStringLiteral("public.tiff");
inline const QString jpeg = QStringLiteral("public.jpeg");
inline const QString fileUrl = QStringLiteral("public.file-url");
inline const QString url = QStringLiteral("public.url");
inline const QString urlName = QStringLiteral("public.url-name");

// Marks clipboard contents this application wrote, so capture never stores its own pastes.
inline const QString selfMarker = QStringLiteral("org.brisel.Ulvane.self");

inline bool isStoredImage(const QString &uti)
{
    return uti == png || uti == tiff || uti == jpeg;
}
} // namespace Uti

namespace Flavors {
// No copy over this many bytes (all flavors together) is kept, and no offer larger than it is
// transferred.
inline constexpr qint64 maxCaptureBytes = 25 * 1024 * 1024;

// All flavors of the first item, then of the second, and so on.
FlavorList flatten(const ItemList &items);
// The first flavor of the given type, or nullptr.
const Flavor *first(const FlavorList &flat, const QString &uti);
bool contains(const FlavorList &flat, const QString &uti);
} // namespace Flavors
