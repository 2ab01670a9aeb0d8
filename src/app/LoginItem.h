#pragma once

#include <QString>

// Launch at login through the XDG autostart folder: the session starts every entry of
// $XDG_CONFIG_HOME/autostart that is not marked Hidden=true. The entry file is the whole truth;
// nothing is cached, so a change made in the desktop's own settings shows at the next read.
class LoginItem
{
public:
    // $XDG_CONFIG_HOME/autostart/org.brisel.Ulvane.desktop
    static QString defaultEntryPath();

    // The entry at `entryPath` starts `executable`; the defaults are this user's autostart
    // folder and the running binary.
    LoginItem();
    LoginItem(QString entryPath, QString executable);

    QString entryPath() const { return m_entryPath; }

    // The entry exists and is not marked Hidden=true.
    bool isEnabled() const;
    // Writes or removes the entry. A failure is logged ("[LoginItem] failed: ...") and
    // returns false; the previous state then stays.
    bool set(bool enabled);

private:
    bool write(QString *error) const;
    bool remove(QString *error) const;

    QString m_entryPath;
    QString m_executable;
};

// Small pieces of the desktop entry format shared by the autostart entry and the menu entry.
namespace DesktopEntry {

inline const QString fileName = QStringLiteral("org.brisel.Ulvane.desktop");

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
