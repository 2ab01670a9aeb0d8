#pragma once

#include "core/Flavor.h"

#include <optional>
#include <QByteArray>
#include <QString>

namespace Util {

// Lower-case hex SHA-256 of the bytes.
QString sha256(const QByteArray &bytes);

// The identity of a content: SHA-256 over the flavors sorted (stably) by type identifier,
// each as uti bytes, 8-byte little-endian length, data. Item boundaries do not count.
QString digest(const FlavorList &flavors);

// One-line preview: whitespace runs collapsed to one space, ends trimmed, at most `limit`
// user-perceived characters.
QString excerpt(const QString &text, int limit);
inline constexpr int excerptLimit = 240;

// Seconds since 1970 with fraction.
double now();

// User-perceived characters (extended grapheme clusters).
qsizetype graphemeCount(const QString &text);
QString leftGraphemes(const QString &text, qsizetype count);

} // namespace Util

namespace Util {
// UTF-8 that must be valid as a whole; absent otherwise.
std::optional<QString> decodeUtf8(const QByteArray &bytes);
} // namespace Util
