#pragma once

// The hot-key preferences and log lines as the hot-key tests set and read them, whichever
// registrar binds the keys.

#include "prefs/Prefs.h"

#include <QByteArray>
#include <QStringList>

namespace HotKeyPrefs {

// Show panel, serial next, plain mode, pause.
inline void setLabels(const QStringList &labels)
{
    Prefs &prefs = Prefs::shared();
    prefs.setShowHotkeyLabel(labels[0]);
    prefs.setSerialNextHotkeyLabel(labels[1]);
    prefs.setPlainModeHotkeyLabel(labels[2]);
    prefs.setPauseHotkeyLabel(labels[3]);
    Prefs::setActiveHotkeyLabel(QString());
}

// The "[HotKeys] ..." messages of a captured log, without the process prefix.
inline QStringList hotKeyLines(const QByteArray &log)
{
    QStringList lines;
    for (const QString &line : QString::fromUtf8(log).split(QLatin1Char('\n'))) {
        const qsizetype at = line.indexOf(QLatin1String("[HotKeys]"));
        if (at >= 0)
            lines.append(line.mid(at));
    }
    return lines;
}

} // namespace HotKeyPrefs
