#pragma once

#include "app/settings/SettingsPage.h"

class HotKeyCenter;
class Prefs;
class QComboBox;
class QLabel;

// The four global hot keys, each a choice of combinations shown the Linux way and stored in
// the portable form, and the keys inside the picker. A choice rebinds every hot key at once.
// Under the show-panel picker a warning names the combination in force when the preferred one
// could not be bound. Where the desktop assigns the keys, or binds none for us, a note says so,
// with the keys in force or how to bind a desktop shortcut to `ulvane --show`.
class ShortcutsPage : public SettingsPage
{
    Q_OBJECT

public:
    ShortcutsPage(Prefs &prefs, HotKeyCenter &hotKeys, QWidget *parent = nullptr);

    // The warning under the show-panel picker, or empty when it is not shown.
    QString hotkeyWarning() const;
    // The note on how this desktop binds global keys, or empty when it is not shown.
    QString desktopNote() const;

    void refresh() override;

private:
    QComboBox *hotkeyPicker(const QString &name, const QStringList &choices,
                            void (Prefs::*store)(const QString &));
    void syncPickers();
    void updateWarning();
    void updateDesktopNote();

    Prefs &m_prefs;
    HotKeyCenter &m_hotKeys;
    QComboBox *m_showHotkey;
    QLabel *m_warning;
    QComboBox *m_serialNextHotkey;
    QComboBox *m_plainModeHotkey;
    QComboBox *m_pauseHotkey;
    QLabel *m_desktopNote;
};
