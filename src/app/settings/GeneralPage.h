#pragma once

#include "app/settings/SettingsPage.h"

#include <QPointer>

class LoginItem;
class Prefs;
class QAbstractButton;
class QAction;
class QComboBox;

// Launch at login, auto-paste, the history's capacity, plain-text mode, the capture sound and
// pausing. While auto-paste is on but this desktop takes no synthetic keys, a notice row offers
// the application's "Enable Auto-Paste" action, which is visible exactly while that holds.
class GeneralPage : public SettingsPage
{
    Q_OBJECT

public:
    GeneralPage(Prefs &prefs, LoginItem &loginItem, QWidget *parent = nullptr);

    // The action behind the notice's button; null hides the notice.
    void setEnableAutoPasteAction(QAction *action);

    void refresh() override;

private:
    QWidget *buildAutoPasteNotice(QWidget *parent);
    void syncSwitches();
    void syncHistoryCap();
    void syncLoginItem();
    void updateAutoPasteNotice();

    Prefs &m_prefs;
    LoginItem &m_loginItem;
    QPointer<QAction> m_enableAutoPaste;

    QAbstractButton *m_launchAtLogin;
    QAbstractButton *m_autoPaste;
    QWidget *m_autoPasteNotice;
    QComboBox *m_historyCap;
    QAbstractButton *m_plainTextMode;
    QAbstractButton *m_soundOn;
    QAbstractButton *m_paused;
};
