#pragma once

#include "core/Clip.h"
#include "core/Flavor.h"

#include <QString>

// What a captured content is and the one-line title the history list shows for it.
struct Classification
{
    ClipKind kind;
    QString title;
};

// Pure functions of the flavor bytes: no shared state, no preferences, never fail.
namespace ContentClassifier {

// The kind and title of a flattened flavor list (all items' flavors, item after item).
// Rules, first match wins: file URLs, then PNG/JPEG images, then plain text (link, colour,
// code or text), then a lone URL flavor, else untitled text.
Classification classify(const FlavorList &flat);

// A single-line ftp/http/https address of at most 2047 user-perceived characters.
bool looksLikeURL(const QString &text);
// Six or eight hex digits (ASCII or full-width), optionally after one leading "#".
bool looksLikeColor(const QString &text);
// At least 41 user-perceived characters holding two code keywords, or braces, semicolons and
// several lines.
bool looksLikeCode(const QString &text);

} // namespace ContentClassifier
