#pragma once

#include "app/settings/SettingsPage.h"

class Prefs;
class QAbstractButton;
class QPlainTextEdit;

// What capture leaves alone: remote clipboards, and the applications listed one id per line.
// The list is kept on every keystroke.
class FiltersPage : public SettingsPage
{
    Q_OBJECT

public:
    explicit FiltersPage(Prefs &prefs, QWidget *parent = nullptr);

private:
    void syncIgnoredApps();

    Prefs &m_prefs;
    QAbstractButton *m_ignoreHandoff;
    QPlainTextEdit *m_ignoredApps;
    bool m_syncing = false; // the editor follows Prefs without writing back
};
