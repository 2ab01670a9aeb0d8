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
    // folder and the running binary (see EntryProgram).
    LoginItem();
    LoginItem(QString entryPath, QString executable);

    QString entryPath() const { return m_entryPath; }

    // The entry exists and is not marked Hidden=true.
    bool isEnabled() const;
    // Points an enabled entry whose program is gone (an install removed or moved to another
    // prefix) at this one; a working or disabled entry is left as it is.
    void repair();
    // Writes or removes the entry. A failure is logged ("[LoginItem] failed: ...") and
    // returns false; the previous state then stays.
    bool set(bool enabled);

private:
    bool write(QString *error) const;

    QString m_entryPath;
    QString m_executable;
};
