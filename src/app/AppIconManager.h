#pragma once

#include "app/AppIconStyle.h"

#include <QIcon>
#include <QString>
#include <QStringList>

// Applies one of the application icon styles: remembers the choice, makes its artwork the
// running application's window icon, and points the user's menu entry
// ($XDG_DATA_HOME/applications/org.brisel.Ulvane.desktop) at it, so launchers and task
// switchers show the same icon after Ulvane quits. The artwork is one SVG per style,
// ulvane-<raw value>.svg.
class AppIconManager
{
public:
    static constexpr AppIconStyle defaultStyle = AppIconStyle::TrypilliaDarkAzureGold;

    // The installed data folder next to the binary (<prefix>/share/ulvane/icons), then the
    // source tree's resources/icons; the first folder that holds a style's file wins.
    static QStringList defaultIconDirectories();
    // $XDG_DATA_HOME/applications/org.brisel.Ulvane.desktop
    static QString defaultDesktopEntryPath();

    AppIconManager();
    AppIconManager(QStringList iconDirectories, QString desktopEntryPath, QString executable);

    // The stored choice; the default style when none is stored or the stored text names none.
    AppIconStyle storedStyle() const;

    // The style's SVG file, or empty when no folder holds one.
    QString artworkPath(AppIconStyle style) const;
    // Whether the file exists and reads as an SVG document. Safe without a GUI application
    // (the command line has none).
    bool hasArtwork(AppIconStyle style) const;
    // The artwork at the usual icon sizes; null when missing or unreadable. Needs a GUI
    // application.
    QIcon icon(AppIconStyle style) const;

    // Stores the choice (always), then sets the window icon and the menu entry's icon; with
    // no usable artwork logs "[AppIcon] missing bundled icns for <raw value>" and changes
    // nothing else.
    void apply(AppIconStyle style);
    // The launch-time form: the stored style, silently skipped when its artwork is missing.
    void applyStored();

    // Stores the style's raw value as the chosen one.
    void remember(AppIconStyle style) const;
    // Points the menu entry's Icon= at the style's artwork, creating the entry (from an
    // installed one when there is one) if the user has none. On failure returns false with
    // a reason.
    bool installDesktopEntry(AppIconStyle style, QString *error) const;

private:
    void useArtwork(AppIconStyle style, const QIcon &icon) const;
    QString desktopEntryTemplate() const;

    QStringList m_iconDirectories;
    QString m_desktopEntryPath;
    QString m_executable;
};
