#pragma once

#include <QString>

class QWidget;

// The questions the settings put to the user. This one asks with Qt's message boxes and file
// dialogs in the dark palette; tests answer in its place.
class SettingsDialogs
{
public:
    virtual ~SettingsDialogs() = default;

    // Asks before a destructive action; true goes ahead.
    virtual bool confirm(QWidget *parent, const QString &message, const QString &detail);
    // Reports the outcome of an import or export.
    virtual void inform(QWidget *parent, const QString &message);
    // Where to export to / what to import; empty when the user cancelled.
    virtual QString chooseExportFile(QWidget *parent, const QString &suggestedName);
    virtual QString chooseImportFile(QWidget *parent);
};
