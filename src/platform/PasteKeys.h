#pragma once

#include <QString>

// The key stroke that pastes the clipboard into a window. Most applications take Ctrl+V;
// terminal emulators read Ctrl+V as a control character for the program they run.
enum class PasteKey {
    ControlV,
    ControlShiftV,
    // Pastes the primary selection, not the clipboard: the only paste key some terminals
    // bind by default, so the clip has to go on the primary selection as well.
    ShiftInsert,
};

namespace PasteKeys {
// The key for a window by its WM_CLASS class or instance name, compared without regard to
// case; Ctrl+V for anything not known to be a terminal.
PasteKey forWindowClass(const QString &windowClass);
// "Ctrl+V", "Ctrl+Shift+V", "Shift+Insert".
QString label(PasteKey key);
inline bool pastesPrimary(PasteKey key)
{
    return key == PasteKey::ShiftInsert;
}
} // namespace PasteKeys
