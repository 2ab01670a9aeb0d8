#pragma once

#include <QHash>
#include <QString>

#include <optional>

// The desktop entry file format (.desktop): reading the [Desktop Entry] group, and the pieces
// needed to write one. Shared by the application index, the autostart entry and the menu
// entry.
namespace DesktopEntry {

// The file name of this application's own entries (autostart and menu).
inline const QString fileName = QStringLiteral("org.brisel.Ulvane.desktop");
// Entry files are small; anything larger is no entry worth reading.
constexpr qint64 maxFileBytes = 1024 * 1024;

// The keys of the [Desktop Entry] group with their unescaped values; the first of a repeated
// key counts. Absent when the text has no such group.
std::optional<QHash<QString, QString>> mainGroup(const QString &text);
// The whole file as text; absent when it cannot be read or is larger than maxFileBytes.
std::optional<QString> readFile(const QString &path);

// A value of type string: backslash, line breaks and tabs escaped, a leading blank kept.
QString escapeValue(const QString &value);
// A program path as the Exec key wants it: quoted when it holds a reserved character, with
// the quoting escapes, then escaped as a string value; '%' doubled.
QString execValue(const QString &program);
// The value of `key` in the [Desktop Entry] group, unescaped; absent keys give a null string.
QString value(const QString &text, const QString &key);
// `text` with `key` set in the [Desktop Entry] group (replaced in place, or appended to the
// group). Null when the text has no such group.
QString withValue(const QString &text, const QString &key, const QString &escapedValue);
// Writes the file whole, creating its folder. On failure returns false with a reason.
bool writeFile(const QString &path, const QString &text, QString *error);

} // namespace DesktopEntry
