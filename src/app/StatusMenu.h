#pragma once

#include <QImage>
#include <QString>

class AppActions;
class QMenu;

namespace StatusMenu {
// Empties `menu` and fills it with two lines about the store and the application's verbs in
// their groups; a verb hidden in its current state is left out. Refresh `actions` first.
void fill(QMenu &menu, const AppActions &actions, const QString &version, int clipCount);
// "Show Clipboard", or "Show Clipboard (Super+Alt+V)" when a key is in force.
QString showTitle(const QString &activeHotkeyLabel);
// The tray's tooltip, naming the show-panel key in force and the serial queue when pending.
QString toolTip(const QString &activeHotkeyLabel, int queued);

// The tray icon: a clipboard board with two cut-out lines and a clip, struck through while
// capture is paused, with the serial queue's length as a badge when items wait. `side` is in
// device-independent pixels.
QImage statusImage(bool paused, int queued = 0, int side = 18, qreal devicePixelRatio = 1.0);
} // namespace StatusMenu
