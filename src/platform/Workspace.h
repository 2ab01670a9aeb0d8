#pragma once

#include <optional>
#include <QObject>
#include <QString>

// The application that owns the active window, as the clipboard history records it.
struct AppInfo
{
    QString appId;  // desktop application id ("org.gnome.TextEditor", "firefox-esr"), or WM_CLASS
    QString name;   // the desktop entry's Name, else the class
    qint64 pid = 0; // 0 when the window does not say

    friend bool operator==(const AppInfo &, const AppInfo &) = default;
};

// Desktop facts the capture and paste code needs: the active window and its application, and
// the system going to sleep and resuming.
class Workspace : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Absent without an active window (or without a display).
    virtual std::optional<AppInfo> activeApplication() = 0;
    // The active window's id; 0 when there is none.
    virtual quint64 activeWindow() = 0;
    // Asks the window manager to activate the window (a paste goes back where the user was).
    virtual void activateWindow(quint64 window) = 0;
    // The window's WM_CLASS class (for telling terminal emulators apart).
    virtual QString windowClass(quint64 window) = 0;
    // Whether the desktop says which application is in front at all. Where it does not, every
    // copy is stored without its source, and a list of ignored applications cannot apply.
    virtual bool knowsApplications() const { return true; }
    // Keeps the window on every virtual desktop (the picker appears wherever the user is).
    // Desktops without that notion ignore it.
    virtual void showOnAllDesktops(quint64 window) { Q_UNUSED(window); }

Q_SIGNALS:
    void aboutToSleep();
    void resumed();
};
