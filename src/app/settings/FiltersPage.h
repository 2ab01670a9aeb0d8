#pragma once

#include "app/settings/SettingsPage.h"

class Prefs;
class QAbstractButton;
class QLabel;
class QPlainTextEdit;

// What capture leaves alone: remote clipboards, and the applications listed one id per line.
// The list is kept on every keystroke.
class FiltersPage : public SettingsPage
{
    Q_OBJECT

public:
    explicit FiltersPage(Prefs &prefs, QWidget *parent = nullptr);

    // Where the desktop never says which application copied, the list can match nothing; the
    // page says so instead of letting the user trust it.
    void setSourcesKnown(bool known);

private:
    void syncIgnoredApps();

    Prefs &m_prefs;
    QAbstractButton *m_ignoreHandoff;
    QPlainTextEdit *m_ignoredApps;
    QLabel *m_unknownSources;
    bool m_syncing = false; // the editor follows Prefs without writing back
};
