#pragma once

#include "app/settings/SettingsPage.h"

class AppIconManager;
class AppIconPicker;
class Prefs;
class QComboBox;

// The picker's font size and row density, and the application's icon style.
class AppearancePage : public SettingsPage
{
    Q_OBJECT

public:
    AppearancePage(Prefs &prefs, AppIconManager &icons, QWidget *parent = nullptr);

    // Selects the stored icon style again: the command line may have changed it.
    void refresh() override;

private:
    void syncFontSize();
    void syncDensity();

    Prefs &m_prefs;
    QComboBox *m_fontSize;
    QComboBox *m_density;
    AppIconPicker *m_iconPicker;
};
