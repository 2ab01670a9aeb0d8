#pragma once

#include <QString>

#include <functional>

class ClipActions;
class PanelModel;
class QKeyEvent;

namespace PanelKeys {
// An in-picker shortcut as Linux users read it: inside the picker the command key is Control
// and the option key is Alt ("⌘1" → "Ctrl+1", "⌥↩" → "Alt+↩", "⌥⌘↩" → "Ctrl+Alt+↩").
// Every key label the picker shows goes through here, so the footer and the rows agree.
QString displayLabel(const QString &label);
// The footer's summary of the picker's keys.
QString footerHint();
// The number shown on row `index` (0-based) for quick paste; empty from the tenth row on.
QString quickPasteLabel(int index);
} // namespace PanelKeys

// The picker's keyboard: arrows, Return and Escape whatever the modifiers, then the Control
// shortcuts. Anything it does not consume goes on to the focused control, so typing reaches the
// search field and Tab, Home, End, Page Up/Down and Left/Right keep their usual meaning.
class PanelKeyHandler
{
public:
    struct Actions
    {
        std::function<void()> hidePanel;
        std::function<void()> openSettings; // may be empty (no settings window in this process)
    };

    PanelKeyHandler(PanelModel &model, ClipActions &clipActions, Actions actions);

    // True when the key was consumed.
    bool handle(const QKeyEvent &event);

private:
    // What the key produces with Control and Alt ignored (Shift still applies), or empty.
    static QString charactersIgnoringModifiers(const QKeyEvent &event);

    PanelModel &m_model;
    ClipActions &m_clipActions;
    Actions m_actions;
};
