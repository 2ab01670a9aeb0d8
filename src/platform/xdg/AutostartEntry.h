#pragma once

#include <QString>

// An entry of the XDG autostart folder: the session starts every entry of
// $XDG_CONFIG_HOME/autostart that is not marked Hidden=true. The file is the whole truth;
// nothing is cached, so a change made in the desktop's own settings shows at the next read.
namespace AutostartEntry {

// $XDG_CONFIG_HOME/autostart/<fileName>
QString defaultPath(const QString &fileName);
// The entry exists and is not marked Hidden=true. An entry that cannot be read still starts
// at login as far as we can tell.
bool isEnabled(const QString &path);
// Writes the entry whole (an entry the desktop's settings hid is replaced). On failure
// returns false with a reason.
bool write(const QString &path, const QString &text, QString *error);
// Removes the entry; a missing one is no failure.
bool remove(const QString &path, QString *error);

} // namespace AutostartEntry
