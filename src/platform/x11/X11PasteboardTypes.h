#pragma once

#include "core/Flavor.h"

#include <QByteArray>
#include <QStringList>

#include <functional>
#include <optional>

class QMimeData;

// Translation between X11 selection targets and the type identifiers that stored content
// keeps. Free of any X connection so that the whole mapping can be exercised with plain data.
namespace X11PasteboardTypes {

inline const QString concealedUti = QStringLiteral("org.nspasteboard.ConcealedType");
inline const QString passwordHintTarget = QStringLiteral("x-kde-passwordManagerHint");
inline const QString uriListTarget = QStringLiteral("text/uri-list");
inline const QString mozUrlTarget = QStringLiteral("text/x-moz-url");
inline const QString gnomeFilesTarget = QStringLiteral("x-special/gnome-copied-files");

// What one conversion brought back: the bytes and the type the owner declared for them
// (which tells the encoding of a TEXT conversion).
struct Transfer
{
    QByteArray data;
    QString type;
};

// Converts one target. Absent means the whole read must be abandoned: the owner did not answer
// in time, or the content is over the size limit. A refused or empty conversion is an empty
// transfer.
using Fetch = std::function<std::optional<Transfer>(const QString &target)>;

// Protocol targets that describe the selection rather than hold content.
bool isProtocolTarget(const QString &target);

// The offered type identifiers for a list of targets (see Pasteboard::currentTypes). Fetches
// only the password hint, whose value decides whether it means "concealed".
std::optional<QStringList> offeredTypes(const QStringList &targets, const Fetch &fetch);

// Builds the items of an offer from its targets, fetching only what the wanted types need.
std::optional<ItemList> readItems(const QStringList &targets, const QStringList &wantedUtis,
                                  const Fetch &fetch);

// The URIs of a text/uri-list body, comments and blank lines dropped.
QStringList parseUriList(const QByteArray &body);

// URL and title of a text/x-moz-url body, which browsers send as UTF-16 (with or without a
// byte-order mark) and others as UTF-8.
struct MozUrl
{
    QString url;
    QString title;
};
MozUrl parseMozUrl(const QByteArray &body);

// The offer that makes the items the clipboard's contents, as mime formats for QClipboard.
QMimeData *mimeDataFor(const ItemList &items);

} // namespace X11PasteboardTypes
