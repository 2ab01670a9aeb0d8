#pragma once

#include <optional>
#include <QList>
#include <QString>

enum class ClipKind { Text, Code, Color, Image, File, Link };

namespace ClipKinds {
QString rawValue(ClipKind kind);
// Exact, case-sensitive match of a raw value ("text", "code", ...).
std::optional<ClipKind> fromRawValue(const QString &raw);
QList<ClipKind> allCases();
} // namespace ClipKinds

// The picker's filter tabs; the raw value is also the tab label.
enum class ClipFilter { All, Favorites, Text, Images, Files, Links };

namespace ClipFilters {
QString rawValue(ClipFilter filter);
std::optional<ClipFilter> fromRawValue(const QString &raw);
QList<ClipFilter> allCases();
} // namespace ClipFilters

// One history entry. A plain value; times are seconds since 1970-01-01 00:00 UTC.
struct Clip
{
    QString id;
    double created = 0;
    ClipKind kind = ClipKind::Text;
    QString excerpt;
    QString title;
    QString appId;
    QString appName;
    QString digest;
    bool pinned = false;
    bool hasImage = false;
    qint64 byteSize = 0;
    QString ocr;

    // Lists diff rows by what a row shows as state: identity, pin and title.
    friend bool operator==(const Clip &a, const Clip &b)
    {
        return a.id == b.id && a.pinned == b.pinned && a.title == b.title;
    }
};
