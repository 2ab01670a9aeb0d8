#pragma once

#include <optional>
#include <QList>
#include <QString>
#include <QStringList>

// The reshapings a clip's text can take on its way back to the pasteboard, in menu order.
// Each display name doubles as the stored raw value.
enum class Transform {
    Plain,
    Lower,
    Upper,
    TitleCase,
    Trimmed,
    SingleLine,
    NoBlankLines,
    MarkdownCode
};

// The value lists the picker can copy out of a text, in menu order.
enum class Extractor { Emails, Urls, Numbers };

namespace Transforms {

QString displayName(Transform transform);
// Exact, case-sensitive match of a display name.
std::optional<Transform> transformFromRawValue(const QString &raw);
QList<Transform> allTransforms();

QString displayName(Extractor extractor);
std::optional<Extractor> extractorFromRawValue(const QString &raw);
QList<Extractor> allExtractors();

QString apply(Transform transform, const QString &text);

// Emails and numbers are listed once each, in order of first appearance; URLs are listed as
// often as they occur.
QStringList extract(Extractor extractor, const QString &text);

// "12 chars · 2 words · 2 lines": user-perceived characters, white-space separated words and
// line-feed separated lines (an empty text is one line).
QString stats(const QString &text);

// The distinct texts of all non-overlapping matches, in order of first appearance. The pattern
// uses Unicode-aware \d and \s; one that does not compile gives an empty list.
QStringList matches(const QString &text, const QString &pattern);

} // namespace Transforms
